#!/usr/bin/env bash
# The batch report of the real program, without a terminal: on the demo
# installation it renders (through the real print program) the same text
# as the report made through the form in report_test.sh, with the suite's
# variables or with --root and no variables at all; the month-end
# script of the documentation makes its PDF, workbook, CSV files and check;
# bad parameters and a missing print program end with a message and a
# non-zero exit code.
# Arguments: build directory, source directory.
set -u

build_dir=$(cd "${1:?build directory}" && pwd)
source_dir=$(cd "${2:?source directory}" && pwd)
tarnevos="$build_dir/tarnevos"
keldades="$build_dir/tools/keldades/keldades"
golden="$source_dir/tests/e2e/report_golden.txt"

for program in "$tarnevos" "$keldades"; do
  if [[ ! -x "$program" ]]; then
    echo "FAIL: $program is not built"
    exit 1
  fi
done
if ! cmake --build "$build_dir" --target demo >"$build_dir/batch_e2e_demo.log" 2>&1; then
  echo "FAIL: the demo installation cannot be built"
  tail -20 "$build_dir/batch_e2e_demo.log"
  exit 1
fi
demo="$build_dir/demo"
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnevos-batch-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A session of the batch's own (the demo's output target is the preview).
session="$work/SESSIO"
cp -r "$demo/SESSIO" "$session"
export KELROOT="$demo/ROOT/" KELTMP="$session/" KELEXE="$demo/BIN/"

# The text of the report to 31 October 2026 equals the form's, rendered by
# the real print program. stdin is not a terminal and none is needed.
"$tarnevos" --batch --cutoff 2026-10-31 --from 1.0 --to 999.999 \
  --output "TXT:$work/batch.txt" </dev/null >"$work/out" 2>"$work/err"
code=$?
[[ $code == 0 ]] || fail "batch run ended with $code: $(cat "$work/err")"
if ! cmp -s "$work/batch.txt" "$golden"; then
  fail "the batch's text differs from the form's ($golden)"
  diff "$golden" "$work/batch.txt" | head -20
fi
[[ ! -e "$session/WinPush.tmp" ]] || fail "a window file was left in the session"

# Without any of the suite's variables: the installation by --root, a
# private session of the user's, the print program found beside the
# program; the same text.
mkdir -p "$work/home"
env -u KELROOT -u KELTMP -u KELEXE HOME="$work/home" XDG_RUNTIME_DIR= \
  "$tarnevos" --batch --root "$demo/ROOT" --cutoff 31/10/2026 --from 1 --to 999 \
  --output "TXT:$work/plain.txt" </dev/null >/dev/null 2>"$work/err"
code=$?
[[ $code == 0 ]] || fail "batch run without variables ended with $code: $(cat "$work/err")"
cmp -s "$work/plain.txt" "$golden" || fail "the batch without variables differs from the form's text"

# The month-end script of the documentation.
PATH="$build_dir:$build_dir/tools/keldades:$PATH" TARNEVOS_OUT="$work/papers" \
  bash "$source_dir/docs/month-end.sh" 2026-11-30 >"$work/month.out" 2>"$work/month.err"
code=$?
folder="$work/papers/2026-11-30"
[[ $code == 0 ]] || fail "month-end.sh ended with $code: $(cat "$work/month.err")"
pdf="$folder/liquidacio-2026-11-30.pdf"
if command -v pdfinfo >/dev/null 2>&1; then
  pages=$(pdfinfo "$pdf" 2>/dev/null | sed -n 's/^Pages: *//p')
  [[ "$pages" == 8 ]] || fail "the PDF has '${pages}' pages, not 8"
else
  [[ -s "$pdf" ]] || fail "no PDF was written"
fi
[[ -s "$folder/liquidacio-2026-11-30.xlsx" ]] || fail "no workbook was written"
ls "$folder/csv" | grep -q '^community-0007.csv$' || fail "no CSV of community 7"
[[ -s "$folder/extractes/0007-20261130.pdf" ]] || fail "no statements of community 7"
grep -q "charged a monthly fee but never settled" "$folder/check.txt" ||
  fail "the check's findings were not kept: $(cat "$folder/check.txt")"
if [[ -x /usr/bin/python3 ]] &&
  /usr/bin/python3 -c 'import openpyxl' 2>/dev/null; then
  sheets=$(/usr/bin/python3 "$source_dir/tests/support/xlsx_cells.py" \
    "$folder/liquidacio-2026-11-30.xlsx" | grep -c '^SHEET')
  [[ "$sheets" == 8 ]] || fail "the workbook has $sheets sheets, not 8"
fi

# Parameters the form would refuse: a message and exit code 64, nothing
# printed.
rm -f "$session/kelprint.tmp"
"$tarnevos" --batch --cutoff 2026-02-30 </dev/null >/dev/null 2>"$work/err"
code=$?
[[ $code == 64 ]] || fail "an invalid date ended with $code, not 64"
grep -q "cutoff 2026-02-30: not a calendar date" "$work/err" ||
  fail "no message for an invalid date: $(cat "$work/err")"
"$tarnevos" --batch --cutoff 2026-11-30 --from 5 --to 4 </dev/null >/dev/null 2>"$work/err"
[[ $? == 64 ]] || fail "a range out of order did not end with 64"
"$tarnevos" --batch --cutoff 2026-11-30 --pages 3 </dev/null >/dev/null 2>"$work/err"
[[ $? == 64 ]] || fail "an unknown option did not end with 64"
[[ ! -e "$session/kelprint.tmp" ]] || fail "refused parameters wrote a print file"

# No print program: told, exit code 1.
KELEXE="$work/nowhere/" "$tarnevos" --batch --cutoff 2026-11-30 --output "TXT:$work/x.txt" \
  </dev/null >/dev/null 2>"$work/err"
code=$?
[[ $code == 1 ]] || fail "a missing print program ended with $code, not 1"
grep -q "NO ES POT EXECUTAR EL PROGRAMA D'IMPRESSIÓ" "$work/err" ||
  fail "no message for a missing print program: $(cat "$work/err")"

if [[ $failures -gt 0 ]]; then
  echo "batch e2e: $failures failures"
  exit 1
fi
echo "batch e2e: passed"
