#!/usr/bin/env bash
# The print program's preview on the whole window: tmux runs kelprint in a
# 140x40 terminal of a Spanish session. The preview shows the page's full
# width and 39 of its lines over the status line on the bottom row, follows
# the window when it is made smaller (and scrolls there as usual), shows
# the session's window-too-small notice below 80x25, and takes the whole
# window again when it grows.
# Arguments: build directory, source directory.
set -u

build_dir=${1:?build directory}
kelprint="$build_dir/tools/kelprint/kelprint"

source "$(dirname "${BASH_SOURCE[0]}")/tmux_session.sh"
e2e_need_tmux
e2e_need_program "$kelprint"

e2e_setup kelprint-window

# Three pages of 66 lines; each line names its page and line at column 1
# and has a mark at column 126, beyond 100 columns.
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
printf '[Sistema]\r\nIdioma=SPA\r\n' >"$work/OrvoTerm.ini"

row() {  # the screen's row N (1-based)
  tmux_ capture-pane -p -t e2e | sed -n "${1}p"
}

# Waits until row N matches the extended regular expression.
wait_row() {
  local n=$1 pattern=$2 i
  for ((i = 0; i < 200; i++)); do
    row "$n" | grep -qE -- "$pattern" && return 0
    sleep 0.1
  done
  fail "row $n never matched: $pattern (it is: $(row "$n"))"
  return 1
}

tmux_ new-session -d -s e2e -x 140 -y 40 \
  "env PS1='e2e\$ ' TERM=xterm-256color bash --norc --noprofile -i"
wait_for 'e2e$' || exit 1
tmux_ send-keys -t e2e "KELTMP='$work/' '$kelprint'; echo kelprint-exit=\$?" Enter

if wait_row 40 '^ Página 1/3  Línea 1  Col 1 .*Esc sale'; then
  wait_row 1 '^page1-line1 {114}mark1-1 *$'
  wait_row 39 '^page1-line39 {113}mark1-39 *$'
fi

# Scrolling: down by lines; sideways there is nothing more to show.
tmux_ send-keys -t e2e Down Down Down Right
wait_row 40 'Línea 4  Col 1 ' && wait_row 1 '^page1-line4 '

# Smaller: the preview follows, the rest of the line is scrolled to (the
# last 35 columns, in steps of 10).
tmux_ resize-window -t e2e -x 100 -y 30
if wait_row 30 '^ Página 1/3  Línea 4  Col 1 '; then
  wait_row 29 '^page1-line32 *$'
  tmux_ send-keys -t e2e Right Right Right Right Right
  wait_row 30 'Col 36 ' && wait_row 1 '^ {90}mark1-4 *$'
fi

# Too small: the notice in the session's language; then large again.
tmux_ resize-window -t e2e -x 70 -y 20
wait_row 1 '^Amplíe la ventana a 80x25$'
tmux_ resize-window -t e2e -x 140 -y 40
wait_row 40 '^ Página 1/3  Línea 4  Col 1 ' && wait_row 1 '^page1-line4 {114}mark1-4'
tmux_ send-keys -t e2e PageDown
wait_row 40 'Página 2/3' && wait_row 39 '^page2-line39 '

tmux_ send-keys -t e2e Escape
wait_for 'kelprint-exit=0'

if ((failures > 0)); then
  echo "kelprint whole window: $failures check(s) failed"
  exit 1
fi
echo "kelprint whole window: all checks passed"
