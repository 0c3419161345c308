#!/usr/bin/env bash
# The settlement report from end to end in a real terminal: tmux runs a
# shell, the shell starts tarnevos on the demo installation as
# scripts/demo.sh does, but with the session's output sent to a text file.
# Keys type a cut-off date, accept the form, confirm with S; the print
# program renders the report to the file, which must equal the golden text,
# says where it went and waits for a key; Esc leaves. The program must end with exit code 0, the terminal must be
# the shell's again, and no temporary file may be left in the session.
# Arguments: build directory, source directory. TARNEVOS_UPDATE_GOLDEN=1
# writes the golden text instead of comparing (review it before keeping it).
set -u

build_dir=$(cd "${1:?build directory}" && pwd)
source_dir=$(cd "${2:?source directory}" && pwd)
tarnevos="$build_dir/tarnevos"
golden="$source_dir/tests/e2e/report_golden.txt"

source "$(dirname "${BASH_SOURCE[0]}")/tmux_session.sh"
e2e_need_tmux
e2e_need_program "$tarnevos"
e2e_build_demo "$build_dir" report
for needed in "$demo/ROOT/DADES/FinquesH.dat" "$demo/BIN/KELPRINT" "$demo/SESSIO/OrvoTerm.ini"; do
  if [[ ! -e "$needed" ]]; then
    echo "FAIL: $needed is missing from the demo installation"
    exit 1
  fi
done

e2e_setup tarnevos-report

# A copy of the session whose output goes to a text file (the settings file
# is CP850 with CR LF: only the Sortida line changes).
session="$work/SESSIO"
cp -r "$demo/SESSIO" "$session"
output="$work/informe.txt"
sed -i "s|^Sortida=.*\$|Sortida=TXT:$output\\r|" "$session/OrvoTerm.ini"
grep -q "^Sortida=TXT:$output" "$session/OrvoTerm.ini" || {
  echo "FAIL: cannot set the output target in $session/OrvoTerm.ini"
  exit 1
}
ls -A "$session" | sort >"$work/session-before"

tmux_ new-session -d -s e2e -x 100 -y 30 \
  "env PS1='e2e\$ ' TERM=xterm-256color bash --norc --noprofile -i"
wait_for 'e2e$' || exit 1

tmux_ send-keys -t e2e "stty -g >'$work/before'; KELROOT='$demo/ROOT/' KELTMP='$session/' KELEXE='$demo/BIN/' '$tarnevos'; echo tarnevos-exit=\$?; stty -g >'$work/after'" Enter

if wait_for 'Data de tall'; then
  [[ $(tmux_ display -p -t e2e '#{alternate_on}') == 1 ]] ||
    fail "the program does not use the alternate screen"
  # Clear the date field, type the cut-off date and accept the form.
  tmux_ send-keys -t e2e C-y
  tmux_ send-keys -t e2e -l '31/10/2026'
  tmux_ send-keys -t e2e C-b
  if wait_for 'Voleu imprimir el resum?'; then
    tmux_ send-keys -t e2e -l 'S'
    tmux_ send-keys -t e2e Enter
  fi
fi

# The report is rendered to the file; the print program says so and
# waits for a key; then form 1 is back.
for ((i = 0; i < 300; i++)); do
  [[ -s "$output" ]] && break
  sleep 0.1
done
if [[ ! -s "$output" ]]; then
  fail "no report was written to $output"
else
  pages=$(($(tr -cd '\f' <"$output" | wc -c) + 1))
  if wait_for "S'ha desat el document en text ($pages pàgines) a:"; then
    tmux_ capture-pane -p -t e2e | grep -qF "$output" ||
      fail "the print program does not say where the report went"
    wait_for 'Premeu una tecla per continuar'
  fi
  tmux_ send-keys -t e2e Enter
  wait_for 'Data de tall'
  if [[ ${TARNEVOS_UPDATE_GOLDEN:-} == 1 ]]; then
    cp "$output" "$golden"
    echo "written $golden"
  elif ! cmp -s "$golden" "$output"; then
    fail "the report differs from $golden"
    diff "$golden" "$output" | head -40
  fi
fi

tmux_ send-keys -t e2e Escape
if wait_for 'tarnevos-exit=0'; then
  for ((i = 0; i < 50; i++)); do
    [[ -s "$work/after" ]] && break
    sleep 0.1
  done
  [[ $(tmux_ display -p -t e2e '#{alternate_on}') == 0 ]] ||
    fail "the alternate screen was not left"
  cmp -s "$work/before" "$work/after" ||
    fail "terminal modes not restored: $(cat "$work/before") vs $(cat "$work/after")"
  # Only the print file may have been added to the session.
  ls -A "$session" | grep -vx 'kelprint.tmp' | sort >"$work/session-after"
  if ! cmp -s "$work/session-before" "$work/session-after"; then
    fail "files left in the session: $(comm -13 "$work/session-before" "$work/session-after" | tr '\n' ' ')"
  fi
  for temporary in WinPush.tmp Browse.tmp; do
    [[ -e "$session/$temporary" || -e "$demo/ROOT/$temporary" ]] &&
      fail "$temporary left behind"
  done
fi

if ((failures > 0)); then
  echo "report end to end: $failures check(s) failed"
  exit 1
fi
echo "report end to end: all checks passed"
