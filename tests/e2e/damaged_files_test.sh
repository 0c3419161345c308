#!/usr/bin/env bash
# Damaged installations in a real terminal (tmux), each a copy of the demo:
#  - a form file cut after its header (it announces two forms and holds
#    none): the bad form file's message naming the file and the line;
#  - PropietH.dat copied over CobramH.dat: the message that CobramH does
#    not match its dictionary;
#  - PropietH.dat with a page in the middle of its records damaged: the
#    report starts, a read fails, and the program stops with the data
#    file's stop message.
# Every time a key press ends the program with exit code 0, the terminal is
# the shell's again, the print program was never started and no print file
# or temporary file is left.
# Arguments: build directory, source directory.
set -u

build_dir=$(cd "${1:?build directory}" && pwd)
tarnevos="$build_dir/tarnevos"

source "$(dirname "${BASH_SOURCE[0]}")/tmux_session.sh"
e2e_need_tmux
e2e_build_demo "$build_dir" damaged

e2e_setup tarnevos-damaged

tmux_ new-session -d -s e2e -x 100 -y 30 \
  "env PS1='e2e\$ ' TERM=xterm-256color bash --norc --noprofile -i"
wait_for 'e2e$' || exit 1

# The screen's words on one line: frames dropped, wrapped lines joined.
screen_words() {
  local frames=() c
  for c in │ ┌ ┐ └ ┘ ─ ║ ═ ╔ ╗ ╚ ╝; do frames+=(-e "s/$c/ /g"); done
  tmux_ capture-pane -p -t e2e -J | sed "${frames[@]}" | tr -s ' \n' '  '
}

# Waits up to 20 seconds for TEXT among the screen's words.
wait_words() {
  local text=$1 i
  for ((i = 0; i < 200; i++)); do
    [[ $(screen_words) == *"$text"* ]] && return 0
    sleep 0.1
  done
  fail "timed out waiting for: $text"
  return 1
}

# A fresh copy of the demo installation in $work/$1, whose print program
# only leaves a mark that it was started.
install_copy() {
  local copy="$work/$1"
  mkdir -p "$copy/BIN"
  cp -r "$demo/ROOT" "$demo/SESSIO" "$copy/"
  printf '#!/bin/sh\ntouch "%s/print-program-started"\n' "$copy" >"$copy/BIN/KELPRINT"
  chmod +x "$copy/BIN/KELPRINT"
}

# Runs tarnevos on $work/$1 in the tmux shell.
start_program() {
  local copy="$work/$1"
  rm -f "$work/before" "$work/after"
  tmux_ send-keys -t e2e "clear; stty -g >'$work/before'; KELROOT='$copy/ROOT/' KELTMP='$copy/SESSIO/' KELEXE='$copy/BIN/' '$tarnevos'; echo tarnevos-exit=\$?; stty -g >'$work/after'" Enter
}

# After the message: one key, then exit code 0 and the shell's terminal.
expect_clean_end() {
  local copy="$work/$1" what=$2
  tmux_ send-keys -t e2e Enter
  if wait_for 'tarnevos-exit=0'; then
    for ((i = 0; i < 50; i++)); do
      [[ -s "$work/after" ]] && break
      sleep 0.1
    done
    [[ $(tmux_ display -p -t e2e '#{alternate_on}') == 0 ]] ||
      fail "$what: the alternate screen was not left"
    cmp -s "$work/before" "$work/after" ||
      fail "$what: terminal modes not restored"
  else
    fail "$what: the program did not end with exit code 0"
  fi
  [[ -e "$copy/print-program-started" ]] && fail "$what: the print program was started"
  [[ -e "$copy/SESSIO/kelprint.tmp" ]] && fail "$what: a print file was left"
  for temporary in WinPush.tmp Browse.tmp; do
    [[ -e "$copy/SESSIO/$temporary" ]] && fail "$what: $temporary left behind"
  done
}

# 1. A form file that ends after its header.
install_copy truncated
form="$work/truncated/ROOT/FORMS/TARNEVOS.KPN"
grep -a -m1 -B1000 '^[0-9][0-9]*,[0-9]' "$form" >"$work/cut" && mv "$work/cut" "$form"
start_program truncated
wait_words "FITXER DE FORMULARIS INCORRECTE: $form, LÍNIA 15: HI FALTEN FORMULARIS"
expect_clean_end truncated "truncated form file"
# The message is repeated on standard error once the terminal is back.
wait_words "$form, LÍNIA 15: HI FALTEN FORMULARIS DE LA CAPÇALERA tarnevos-exit=0"

# 2. A data file replaced by another one.
install_copy swapped
cp "$work/swapped/ROOT/DADES/PropietH.dat" "$work/swapped/ROOT/DADES/CobramH.dat"
start_program swapped
wait_words "EL FITXER $work/swapped/ROOT/DADES\\CobramH NO CORRESPON AL SEU DICCIONARI"
expect_clean_end swapped "swapped data file"

# 3. A read error in the middle of the report: the type byte of one page of
# PropietH's records (page 10 of 17, pages of 4096 bytes) made invalid.
install_copy damaged
propiet="$work/damaged/ROOT/DADES/PropietH.dat"
printf '\000' | dd of="$propiet" bs=1 seek=$((9 * 4096)) conv=notrunc 2>/dev/null
start_program damaged
if wait_for 'Data de tall'; then
  tmux_ send-keys -t e2e C-b
  if wait_for 'Voleu imprimir el resum?'; then
    tmux_ send-keys -t e2e -l 'S'
    tmux_ send-keys -t e2e Enter
    wait_words "NO ES POT ACCEDIR AL FITXER $work/damaged/ROOT/DADES\\PropietH (2)"
  fi
fi
expect_clean_end damaged "read error"

if ((failures > 0)); then
  echo "damaged files end to end: $failures check(s) failed"
  exit 1
fi
echo "damaged files end to end: all checks passed"
