#!/usr/bin/env bash
# The print program's preview in a real 80x25 terminal: tmux runs a shell,
# the shell runs kelprint on a small print file, keys page and scroll
# sideways, Esc leaves, and the terminal must be the shell's again
# (alternate screen left, terminal modes as before). The session has no
# language set: the preview speaks Catalan.
# Arguments: build directory, source directory.
set -u

build_dir=${1:?build directory}
kelprint="$build_dir/tools/kelprint/kelprint"

source "$(dirname "${BASH_SOURCE[0]}")/tmux_session.sh"
e2e_need_tmux
e2e_need_program "$kelprint"

e2e_setup kelprint

# Three pages of 66 lines; each line names its page and line at column 1 and
# has a mark at column 126, beyond an 80-column screen.
{
  printf 'DEVICEPANTALLA\r\n'
  for page in 1 2 3; do
    printf 'PAGE 66 \r\n'
    for line in $(seq 1 66); do
      printf ' 1 ,page%d-line%d, 0 \r\n' "$page" "$line"
      printf ' 126 ,mark%d-%d, 1 \r\n' "$page" "$line"
    done
  done
} >"$work/kelprint.tmp"

tmux_ new-session -d -s e2e -x 80 -y 25 \
  "env PS1='e2e\$ ' TERM=xterm-256color bash --norc --noprofile -i"
wait_for 'e2e$' || exit 1

tmux_ send-keys -t e2e "stty -g >'$work/before'; KELTMP='$work/' '$kelprint'; echo kelprint-exit=\$?; stty -g >'$work/after'" Enter

if wait_for 'Pàgina 1/3'; then
  screen=$(tmux_ capture-pane -p -t e2e)
  grep -q '^page1-line1 *$' <<<"$screen" || fail "first line of page 1 not at the top left"
  [[ $(tmux_ display -p -t e2e '#{alternate_on}') == 1 ]] ||
    fail "the preview does not use the alternate screen"
fi

for _ in 1 2 3 4 5 6; do tmux_ send-keys -t e2e Right; done
if wait_for 'Col 56'; then
  wait_for 'mark1-1' &&
    { tmux_ capture-pane -p -t e2e | grep -q '^ *mark1-1 *$' || fail "mark not scrolled into view"; }
fi

tmux_ send-keys -t e2e PageDown
wait_for 'Pàgina 2/3' && wait_for 'mark2-1'
tmux_ send-keys -t e2e End
wait_for 'Pàgina 3/3'
tmux_ send-keys -t e2e Down Down
wait_for 'mark3-3'
tmux_ send-keys -t e2e Home
wait_for 'Pàgina 1/3'
for _ in 1 2 3 4 5 6; do tmux_ send-keys -t e2e Left; done
wait_for 'Col 1 ' && wait_for 'page1-line1'

tmux_ send-keys -t e2e Escape
if wait_for 'kelprint-exit=0'; then
  # The shell's own line is back and the viewer's screen is gone.
  for ((i = 0; i < 50; i++)); do
    [[ -s "$work/after" ]] && break
    sleep 0.1
  done
  [[ $(tmux_ display -p -t e2e '#{alternate_on}') == 0 ]] ||
    fail "the alternate screen was not left"
  if tmux_ capture-pane -p -t e2e | grep -q 'AvPàg/RePàg'; then
    fail "the viewer's status line is still on screen"
  fi
  cmp -s "$work/before" "$work/after" ||
    fail "terminal modes not restored: $(cat "$work/before") vs $(cat "$work/after")"
fi

if ((failures > 0)); then
  echo "kelprint preview: $failures check(s) failed"
  exit 1
fi
echo "kelprint preview: all checks passed"
