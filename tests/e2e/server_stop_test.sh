#!/usr/bin/env bash
# The report from a PostgreSQL server whose server stops in the middle of
# the report (pg_ctl stop -m immediate): the program shows the stop message
# with the record manager's status 95, waits for a key, ends with exit
# code 0 and gives the terminal back as it found it. Before that the batch
# run prints the form's text from the server and keldades check reads it;
# after it, with the server gone, both end with their failure codes.
#
# This test starts a cluster of its own (the one the unit tests share must
# not be stopped under them) and loads the demo's dataset into it with
# keldades. To stop the server while the report is surely running, another
# session holds a lock on the collections table after the program has
# opened its files: the report's first read of a collection waits on it,
# and the server is stopped while it waits.
# Arguments: build directory, source directory.
set -u

build_dir=$(cd "${1:?build directory}" && pwd)
source_dir=$(cd "${2:?source directory}" && pwd)
tarnevos="$build_dir/tarnevos"
keldades="$build_dir/tools/keldades/keldades"
cluster="$source_dir/tests/support/pg_cluster.sh"

source "$(dirname "${BASH_SOURCE[0]}")/tmux_session.sh"
e2e_need_tmux
e2e_need_program "$tarnevos"
e2e_need_program "$keldades"
e2e_build_demo "$build_dir" server

e2e_setup tarnevos-server
state="$work/pg.state"
locker_pid=""
server_cleanup() {
  [[ -n $locker_pid ]] && kill "$locker_pid" 2>/dev/null
  bash "$cluster" stop "$state"
  e2e_cleanup
}
trap server_cleanup EXIT

if ! bash "$cluster" start "$state" >"$work/cluster.log" 2>&1; then
  echo "FAIL: the test cluster does not start"
  cat "$work/cluster.log"
  exit 1
fi
conninfo=$(sed -n 's/^conninfo=//p' "$state")
psql="$(sed -n 's/^bin=//p' "$state")/psql"

# The demo installation without its data files; its data on the server.
root="$work/ROOT"
cp -r "$demo/ROOT" "$root"
rm -rf "$root/DADES"
printf '[Dades]\r\nServidor=%s\r\nEsquema=e2e\r\n' "$conninfo" >>"$root/Orvo.ini"
if ! "$keldades" load "$root/" "$source_dir/demo/root/data.json" >"$work/load.log" 2>&1; then
  echo "FAIL: keldades cannot load the demo into the server"
  cat "$work/load.log"
  exit 1
fi
collections=$("$psql" -X -At -d "$conninfo" -c \
  "SELECT 'e2e.records_' || id FROM e2e.datafiles WHERE name = 'dades/cobramh.dat'")
if [[ -z $collections ]]; then
  echo "FAIL: no collections table on the server"
  exit 1
fi

session="$work/SESSIO"
cp -r "$demo/SESSIO" "$session"
output="$work/informe.txt"
sed -i "s|^Sortida=.*\$|Sortida=TXT:$output\\r|" "$session/OrvoTerm.ini"

# The batch run and the check read the server's tables: the batch's text
# is the form's (the golden text of report_test.sh).
"$tarnevos" --batch --cutoff 2026-10-31 --from 1.0 --to 999.999 \
  --root "$root" --session "$session" --output "TXT:$work/batch.txt" \
  </dev/null >/dev/null 2>"$work/batch.err"
code=$?
[[ $code == 0 ]] || fail "batch run on the server ended with $code: $(cat "$work/batch.err")"
cmp -s "$work/batch.txt" "$source_dir/tests/e2e/report_golden.txt" ||
  fail "the batch's text from the server differs from the form's"
"$keldades" check "$root/" --cutoff 2026-10-31 >"$work/check.out" 2>&1
code=$?
[[ $code == 0 || $code == 1 ]] ||
  fail "keldades check on the server ended with $code: $(cat "$work/check.out")"

tmux_ new-session -d -s e2e -x 100 -y 30 \
  "env PS1='e2e\$ ' TERM=xterm-256color bash --norc --noprofile -i"
wait_for 'e2e$' || exit 1
tmux_ send-keys -t e2e "stty -g >'$work/before'; KELROOT='$root/' KELTMP='$session/' KELEXE='$demo/BIN/' '$tarnevos'; echo tarnevos-exit=\$?; stty -g >'$work/after'" Enter

if wait_for 'Data de tall'; then
  # The files are open: now another session takes the collections table.
  "$psql" -X -q -d "$conninfo" -c \
    "BEGIN; LOCK TABLE $collections IN ACCESS EXCLUSIVE MODE; SELECT pg_sleep(120)" \
    >/dev/null 2>&1 &
  locker_pid=$!
  for ((i = 0; i < 100; i++)); do
    held=$("$psql" -X -At -d "$conninfo" -c \
      "SELECT count(*) FROM pg_locks WHERE relation = '$collections'::regclass AND mode = 'AccessExclusiveLock' AND granted")
    [[ $held == 1 ]] && break
    sleep 0.1
  done
  [[ $held == 1 ]] || fail "the collections table was not locked"

  tmux_ send-keys -t e2e C-y
  tmux_ send-keys -t e2e -l '31/10/2026'
  tmux_ send-keys -t e2e C-b
  if wait_for 'Voleu imprimir el resum?'; then
    tmux_ send-keys -t e2e -l 'S'
    tmux_ send-keys -t e2e Enter
  fi
  # The report waits for the collections: stop the server under it.
  waiting=0
  for ((i = 0; i < 100; i++)); do
    waiting=$("$psql" -X -At -d "$conninfo" -c \
      "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'tarnevos' AND wait_event_type = 'Lock'")
    [[ $waiting == 1 ]] && break
    sleep 0.05
  done
  [[ $waiting == 1 ]] || fail "the report never waited for the collections"
  bash "$cluster" kill "$state"

  if wait_for 'NO ES POT ACCEDIR AL FITXER' && wait_for '(95)'; then
    [[ $(tmux_ capture-pane -p -t e2e | grep -c 'CobramH') -ge 1 ]] ||
      fail "the stop message does not name CobramH"
    tmux_ send-keys -t e2e Enter
  fi
fi

if wait_for 'tarnevos-exit=0'; then
  for ((i = 0; i < 50; i++)); do
    [[ -s "$work/after" ]] && break
    sleep 0.1
  done
  [[ $(tmux_ display -p -t e2e '#{alternate_on}') == 0 ]] ||
    fail "the alternate screen was not left"
  cmp -s "$work/before" "$work/after" ||
    fail "terminal modes not restored: $(cat "$work/before") vs $(cat "$work/after")"
  [[ -e $output ]] && fail "a report was printed although the server stopped"
fi

# The server is gone: the batch run ends with the stop message and 3, the
# check with 2.
"$tarnevos" --batch --cutoff 2026-10-31 --root "$root" --session "$session" \
  --output "TXT:$work/gone.txt" </dev/null >/dev/null 2>"$work/gone.err"
code=$?
[[ $code == 3 ]] || fail "batch run without the server ended with $code"
grep -q 'NO ES POT ACCEDIR AL FITXER.*(20)' "$work/gone.err" ||
  fail "the batch's stop message lacks status 20: $(cat "$work/gone.err")"
[[ -e $work/gone.txt ]] && fail "the batch printed without the server"
"$keldades" check "$root/" >"$work/gone-check.out" 2>&1
code=$?
[[ $code == 2 ]] || fail "keldades check without the server ended with $code"

if ((failures > 0)); then
  echo "server stop end to end: $failures check(s) failed"
  exit 1
fi
echo "server stop end to end: all checks passed"
