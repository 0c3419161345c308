#!/usr/bin/env bash
# Month-end settlements: every community's summary to one PDF, the
# settlement's figures as a workbook and as CSV files, and the owners'
# statements, in a folder per cut-off date. Before that, the data is
# checked and the findings kept beside the papers (findings do not stop the
# run; an unreadable installation does).
#
#   month-end.sh [CUTOFF]          CUTOFF as YYYY-MM-DD, by default today
#
# KELROOT names the installation. The session and the print program come
# as for the program itself: KELTMP and KELEXE when set, else a private
# session of the user's and the installed print program. TARNEVOS_OUT is
# where the folders go (default ~/liquidacions). From cron, on the last day
# of every month:
#
#   55 23 28-31 * * [ "$(date -d tomorrow +\%d)" = 01 ] && KELROOT=/srv/kel/ /usr/local/bin/month-end.sh
set -euo pipefail
: "${KELROOT:?set KELROOT to the installation}"

cutoff=${1:-$(date +%F)}
out="${TARNEVOS_OUT:-$HOME/liquidacions}/$cutoff"
mkdir -p "$out"

# 0: nothing found, 1: findings (kept in check.txt), 2: cannot be read.
status=0
keldades check "$KELROOT" --cutoff "$cutoff" >"$out/check.txt" || status=$?
if [ "$status" -gt 1 ]; then
  echo "month-end: the installation cannot be read (see above)" >&2
  exit "$status"
fi

tarnevos --batch --cutoff "$cutoff" \
  --output "PDF:$out/liquidacio-$cutoff.pdf" \
  --xlsx "$out/liquidacio-$cutoff.xlsx" \
  --csv "$out/csv" \
  --statements "$out/extractes"
echo "month-end: $out"
