#!/usr/bin/env bash
# The parameter form in a real terminal (tmux): the defaults of form 1, F4 on
# the first-community field lists the demo's communities and Enter stores the
# chosen code, Alt+X 2 F types 200 into the copies field, Alt+C Right F types
# the next day into the cut-off date; then the program is killed with SIGTERM
# and the terminal must be the shell's again (modes and main screen).
# Arguments: build directory, source directory.
set -u

build_dir=$(cd "${1:?build directory}" && pwd)
tarnevos="$build_dir/tarnevos"

source "$(dirname "${BASH_SOURCE[0]}")/tmux_session.sh"
e2e_need_tmux
e2e_build_demo "$build_dir" form

e2e_setup tarnevos-form

session="$work/SESSIO"
cp -r "$demo/SESSIO" "$session"
rm -f "$session/KELCALC.TMP"
# The calculator keeps its tape in the terminal's directory: this session's.
sed -i "s|^Dir=.*\$|Dir=$session/\\r|" "$session/Sessio.ini"
grep -q "^Dir=$session/" "$session/Sessio.ini" || {
  echo "FAIL: cannot set the terminal directory in $session/Sessio.ini"
  exit 1
}

tmux_ new-session -d -s e2e -x 100 -y 30 \
  "env PS1='e2e\$ ' TERM=xterm-256color bash --norc --noprofile -i"
wait_for 'e2e$' || exit 1
tmux_ send-keys -t e2e "stty -g >'$work/before'; KELROOT='$demo/ROOT/' KELTMP='$session/' KELEXE='$demo/BIN/' '$tarnevos'; echo tarnevos-exit=\$?; stty -g >'$work/after'" Enter

if wait_for 'Data de tall'; then
  # The working date of the demo session is the default cut-off date.
  wait_for '301126'
  # F4 on the first-community field: the list of communities.
  tmux_ send-keys -t e2e Enter
  tmux_ send-keys -t e2e F4
  if wait_for 'NOM DE LA COMUNITAT' && wait_for '001  MAJOR, 12*C/'; then
    wait_for '002  DE GRÀCIA, 7*PL.'
    tmux_ send-keys -t e2e Down
    tmux_ send-keys -t e2e Enter
    wait_for 'Primera comunitat ............: 002'
  fi
  # Now on the first-unit field: three more fields down to the copies.
  tmux_ send-keys -t e2e Down Down Down C-y
  tmux_ send-keys -t e2e M-x
  sleep 0.3
  tmux_ send-keys -t e2e -l '2'
  tmux_ send-keys -t e2e -l 'F'
  wait_for 'Nombre de còpies .............: 200'
  # Back to the cut-off date: the calendar types the day after 30/11/2026.
  tmux_ send-keys -t e2e PPage C-y
  tmux_ send-keys -t e2e M-c
  if wait_for 'DESEMBRE'; then
    tmux_ send-keys -t e2e Right
    tmux_ send-keys -t e2e -l 'F'
    wait_for '1/12/2026'
  fi
fi

# SIGTERM while the form is up: the terminal must come back.
pid=$(pgrep -n -f -x "$tarnevos")
if [[ -z "$pid" ]]; then
  fail "tarnevos is not running"
else
  kill -TERM "$pid"
  if wait_for 'tarnevos-exit=143'; then
    for ((i = 0; i < 50; i++)); do
      [[ -s "$work/after" ]] && break
      sleep 0.1
    done
    [[ $(tmux_ display -p -t e2e '#{alternate_on}') == 0 ]] ||
      fail "the alternate screen was not left after SIGTERM"
    cmp -s "$work/before" "$work/after" ||
      fail "terminal modes not restored after SIGTERM"
  fi
fi

if ((failures > 0)); then
  echo "form keys end to end: $failures check(s) failed"
  exit 1
fi
echo "form keys end to end: all checks passed"
