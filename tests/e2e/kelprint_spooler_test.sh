#!/usr/bin/env bash
# The print program and a real print spooler: the test starts its own CUPS
# scheduler (cupsd in the foreground, with a private configuration folder,
# Unix socket, spool, cache, state and logs; nothing listens on the
# network) with one PDF printer queue whose device is a file, sends the
# report's print file with LP:queue through kelprint, and checks that the
# job arrived as a PDF holding the report's text. It also sends a job from
# a terminal (the job's name is shown in the session's language) and to a
# queue that does not exist. The scheduler is stopped on every way out.
# Arguments: build directory, source directory.
set -u

build_dir=$(cd "${1:?build directory}" && pwd)
source_dir=$(cd "${2:?source directory}" && pwd)
kelprint="$build_dir/tools/kelprint/kelprint"
report="$source_dir/src/report/testdata/demo_all_catalan.prn"

missing=()
for tool in cupsd lp lpstat pdftotext pdfinfo; do
  command -v "$tool" >/dev/null 2>&1 || [[ -x /usr/sbin/$tool ]] || missing+=("$tool")
done
if ((${#missing[@]} > 0)); then
  # CI installs them (scripts/deps.sh); elsewhere the test is skipped.
  if [[ ${CI:-} == true ]]; then
    echo "FAIL: missing ${missing[*]} (scripts/deps.sh installs them)"
    exit 1
  fi
  echo "SKIP: missing ${missing[*]} (Debian packages cups-daemon, cups-client, cups-filters-core-drivers, poppler-utils)"
  exit 0
fi
if [[ ! -x "$kelprint" ]]; then
  echo "FAIL: $kelprint is not built"
  exit 1
fi
cupsd=$(command -v cupsd || echo /usr/sbin/cupsd)

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A folder the scheduler's filters (run as the lp user when the test runs
# as root) can pass through.
work=$(mktemp -d)
chmod 755 "$work"
cupsd_pid=
tmux_socket=
cleanup() {
  if [[ -n $cupsd_pid ]]; then
    kill "$cupsd_pid" 2>/dev/null
    for ((i = 0; i < 50; i++)); do
      kill -0 "$cupsd_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$cupsd_pid" 2>/dev/null
    wait "$cupsd_pid" 2>/dev/null
  fi
  [[ -n $tmux_socket ]] && tmux -L "$tmux_socket" kill-server >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

mkdir -p "$work"/{spool,log,cache,state,tmp,out,ppd,session}
socket="$work/cups.sock"
output="$work/out/job.pdf"

cat >"$work/cups-files.conf" <<CONF
ServerRoot $work
RequestRoot $work/spool
TempDir $work/tmp
CacheDir $work/cache
StateDir $work/state
ErrorLog $work/log/error_log
AccessLog $work/log/access_log
PageLog $work/log/page_log
FileDevice Yes
CONF
cat >"$work/cupsd.conf" <<CONF
LogLevel info
Listen $socket
Browsing No
WebInterface No
DefaultAuthType None
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
# One queue, as a printer that takes PDF: the scheduler passes the job
# through its PDF filter and writes the result to the device, a file.
cat >"$work/printers.conf" <<CONF
<Printer tarnevos>
Info TARNEVOS test printer
State Idle
Accepting Yes
DeviceURI file://$output
</Printer>
CONF
cat >"$work/ppd/tarnevos.ppd" <<'PPD'
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "TARNEVOS.PPD"
*Manufacturer: "TARNEVOS"
*Product: "(PDF file)"
*ModelName: "PDF file"
*ShortNickName: "PDF file"
*NickName: "PDF file"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "1"
*TTRasterizer: Type42
*cupsVersion: 2.4
*cupsFilter2: "application/vnd.cups-pdf application/pdf 0 -"
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A4
*PageRegion A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea A4/A4: "0 0 595 842"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
PPD

"$cupsd" -f -c "$work/cupsd.conf" -s "$work/cups-files.conf" \
  >"$work/log/cupsd.out" 2>&1 &
cupsd_pid=$!
# Should this script be killed outright (no trap runs), the scheduler goes
# with it.
(
  while kill -0 $$ 2>/dev/null; do sleep 1; done
  kill "$cupsd_pid" 2>/dev/null
  sleep 1
  rm -rf "$work"
) >/dev/null 2>&1 &
export CUPS_SERVER=$socket

show_logs() {
  echo "---- scheduler ----"
  tail -20 "$work/log/cupsd.out" "$work/log/error_log" 2>/dev/null
  echo "-------------------"
}

ready=false
for ((i = 0; i < 100; i++)); do
  if lpstat -p tarnevos 2>/dev/null | grep -q 'tarnevos'; then
    ready=true
    break
  fi
  kill -0 "$cupsd_pid" 2>/dev/null || break
  sleep 0.1
done
if ! $ready; then
  fail "the scheduler did not start"
  show_logs
  exit 1
fi

# Waits until the job is completed and its file is there.
wait_for_job() {
  local job=$1 i
  for ((i = 0; i < 300; i++)); do
    if lpstat -W completed -o tarnevos 2>/dev/null | grep -q "^$job "; then
      [[ -s $output ]] && return 0
    fi
    sleep 0.1
  done
  fail "job $job did not complete"
  lpstat -W all -o tarnevos -l 2>&1 | head -20
  show_logs
  return 1
}

# Batch use (no terminal): the report of the demo, 8 pages.
cp "$report" "$work/session/kelprint.tmp"
KELTMP="$work/session/" setsid -w "$kelprint" --device=LP:tarnevos \
  >"$work/batch.out" 2>"$work/batch.err"
status=$?
[[ $status == 0 ]] || fail "kelprint ended with $status: $(cat "$work/batch.err")"
job=$(sed -n 's/.* as job \([^ ]*\) .*/\1/p' "$work/batch.err")
grep -q "^kelprint: 8 pages sent to the printer tarnevos as job tarnevos-[0-9]* ($work/session/kelprint.pdf)$" \
  "$work/batch.err" || fail "unexpected report: $(cat "$work/batch.err")"
if [[ -n $job ]] && wait_for_job "$job"; then
  [[ $(head -c 5 "$output") == %PDF- ]] || fail "the job did not arrive as a PDF"
  pages=$(pdfinfo "$output" 2>/dev/null | sed -n 's/^Pages: *//p')
  [[ $pages == 8 ]] || fail "the job holds $pages pages, not 8"
  text=$(pdftotext -layout "$output" - 2>/dev/null)
  for expected in 'RESUM DE LIQUIDACIÓ DES DEL 1 DE SETEMBRE DEL 2026' \
    'CORRESPONENT A LA COMUNITAT DE PROPIETARIS (1) C/ MAJOR, 12' \
    'TOTAL COMUNITAT' 'FINQUES MONTSENY, SL'; do
    grep -qF -- "$expected" <<<"$text" || fail "the printed job lacks: $expected"
  done
fi

# From a terminal: the job's name on screen, in the session's language.
if command -v tmux >/dev/null 2>&1; then
  tmux_socket="kelprint-spooler-$$-$RANDOM"
  rm -f "$output"
  printf '[Sistema]\r\nIdioma=SPA\r\n' >"$work/session/OrvoTerm.ini"
  tmux -L "$tmux_socket" -f /dev/null new-session -d -s e2e -x 100 -y 30 \
    "env CUPS_SERVER='$socket' KELTMP='$work/session/' '$kelprint' --device=LP:tarnevos; echo kelprint-exit=\$?; sleep 30"
  screen=
  for ((i = 0; i < 200; i++)); do
    screen=$(tmux -L "$tmux_socket" capture-pane -p -t e2e 2>/dev/null)
    grep -q 'Pulse una tecla para continuar' <<<"$screen" && break
    sleep 0.1
  done
  grep -qF 'Se ha enviado el documento (8 páginas) a la impresora tarnevos.' <<<"$screen" ||
    fail "no word of the job on the terminal: $screen"
  terminal_job=$(sed -n 's/.*Trabajo: \(tarnevos-[0-9]*\).*/\1/p' <<<"$screen")
  [[ -n $terminal_job && $terminal_job != "$job" ]] ||
    fail "the terminal names no new job: $screen"
  tmux -L "$tmux_socket" send-keys -t e2e Enter
  for ((i = 0; i < 100; i++)); do
    screen=$(tmux -L "$tmux_socket" capture-pane -p -t e2e 2>/dev/null)
    grep -q 'kelprint-exit=' <<<"$screen" && break
    sleep 0.1
  done
  grep -q 'kelprint-exit=0' <<<"$screen" || fail "kelprint did not end well: $screen"
  [[ -n $terminal_job ]] && wait_for_job "$terminal_job"
fi

# A queue the scheduler does not have: the spooler's refusal is passed on.
KELTMP="$work/session/" setsid -w "$kelprint" --device=LP:nowhere \
  >/dev/null 2>"$work/refused.err"
status=$?
[[ $status == 2 ]] || fail "a refused job ended with $status"
grep -q 'lp failed with exit code 1: lp: .*does not exist' "$work/refused.err" ||
  fail "the refusal is not explained: $(cat "$work/refused.err")"

if ((failures > 0)); then
  echo "kelprint spooler: $failures check(s) failed"
  exit 1
fi
echo "kelprint spooler: all checks passed"
