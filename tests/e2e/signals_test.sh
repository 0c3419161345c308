#!/usr/bin/env bash
# Signals that end the program, in a real terminal (tmux) on a copy of the
# demo installation:
#  - SIGTERM while the print program shows the report's preview: the print
#    program is ended too (it must not draw over the shell or take its
#    keys), the terminal is the shell's again after both, and keys typed
#    then reach the shell;
#  - SIGINT, SIGQUIT, SIGHUP and SIGTERM while a lookup list (F4) is open:
#    WinPush.tmp and Browse.tmp are removed and the terminal is restored.
# Arguments: build directory, source directory.
set -u

build_dir=$(cd "${1:?build directory}" && pwd)
tarnevos="$build_dir/tarnevos"

source "$(dirname "${BASH_SOURCE[0]}")/tmux_session.sh"
e2e_need_tmux
e2e_build_demo "$build_dir" signals

e2e_setup tarnevos-signals

session="$work/SESSIO"
cp -r "$demo/SESSIO" "$session"
sed -i "s|^Sortida=.*\$|Sortida=PANTALLA\\r|" "$session/OrvoTerm.ini"

tmux_ new-session -d -s e2e -x 140 -y 30 \
  "env PS1='e2e\$ ' TERM=xterm-256color bash --norc --noprofile -i"
wait_for 'e2e$' || exit 1

# Starts tarnevos under a small shell that reports its exit code (an
# interactive bash would drop the rest of the line after a child's SIGINT);
# the program's process id goes to $work/pid.
start_program() {
  rm -f "$work/before" "$work/after" "$work/pid" "$work/shell"
  tmux_ send-keys -t e2e "clear; stty -g >'$work/before'; KELROOT='$demo/ROOT/' KELTMP='$session/' KELEXE='$demo/BIN/' sh -c 'echo \$\$ >\"$work/shell\"; \"$tarnevos\"; echo tarnevos-exit=\$?'; stty -g >'$work/after'" Enter
  local shell=""
  for ((i = 0; i < 100; i++)); do
    [[ -s "$work/shell" ]] && shell=$(cat "$work/shell")
    if [[ -n "$shell" ]]; then
      local child
      child=$(cat "/proc/$shell/task/$shell/children" 2>/dev/null | tr -d ' ')
      [[ -n "$child" ]] && { echo "$child" >"$work/pid"; break; }
    fi
    sleep 0.1
  done
}

# After the signal: the exit code of that signal and the shell's terminal.
expect_restored() {
  local code=$1 what=$2
  if wait_for "tarnevos-exit=$code"; then
    for ((i = 0; i < 50; i++)); do
      [[ -s "$work/after" ]] && break
      sleep 0.1
    done
    [[ $(tmux_ display -p -t e2e '#{alternate_on}') == 0 ]] ||
      fail "$what: the alternate screen was not left"
    cmp -s "$work/before" "$work/after" ||
      fail "$what: terminal modes not restored"
  fi
  for temporary in WinPush.tmp Browse.tmp; do
    [[ -e "$session/$temporary" ]] && fail "$what: $temporary left behind"
  done
}

# 1. SIGTERM during the preview.
start_program
if wait_for 'Data de tall'; then
  tmux_ send-keys -t e2e C-b
  if wait_for 'Voleu imprimir el resum?'; then
    tmux_ send-keys -t e2e -l 'S'
    tmux_ send-keys -t e2e Enter
  fi
fi
if wait_for 'Pàgina 1/'; then
  pid=$(cat "$work/pid")
  viewer=$(cat "/proc/$pid/task/$pid/children" 2>/dev/null | tr -d ' ')
  [[ -n "$viewer" ]] || fail "preview: the print program is not the program's child"
  kill -TERM "$pid"
  expect_restored 143 "SIGTERM during the preview"
  if [[ -n "$viewer" ]] && kill -0 "$viewer" 2>/dev/null; then
    fail "preview: the print program outlived the program"
    kill -KILL "$viewer"
  fi
  tmux_ capture-pane -p -t e2e | grep -q 'Pàgina 1/' &&
    fail "preview: the print program's screen is still shown"
  tmux_ send-keys -t e2e "echo shell-has-the-keys" Enter
  wait_for 'shell-has-the-keys'
fi

# 2. A signal while a lookup list is open.
for signal in INT QUIT HUP TERM; do
  start_program
  if wait_for 'Data de tall'; then
    tmux_ send-keys -t e2e Enter F4
    if wait_for 'NOM DE LA COMUNITAT'; then
      [[ -e "$session/Browse.tmp" && -e "$session/WinPush.tmp" ]] ||
        fail "SIG$signal: the list's temporary files are not there"
      kill "-$signal" "$(cat "$work/pid")"
      expect_restored $((128 + $(kill -l "$signal"))) "SIG$signal during a lookup list"
    fi
  fi
done

if ((failures > 0)); then
  echo "signals end to end: $failures check(s) failed"
  exit 1
fi
echo "signals end to end: all checks passed"
