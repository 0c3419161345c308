#!/usr/bin/env bash
# Owners' statements asked for on the form, in a real terminal: tmux runs
# tarnevos on the demo installation with the report sent to a text file;
# keys type a cut-off date, set the statements choice to Sí, accept and
# confirm. After the print program's message, the program says how many
# statements it wrote and where (the session's EXTRACTES folder, the
# demo's Orvo.ini naming none); there must be one PDF per community and one
# for the run, each sound for qpdf and holding the statements' text.
# Arguments: build directory, source directory.
set -u

build_dir=$(cd "${1:?build directory}" && pwd)
tarnevos="$build_dir/tarnevos"

source "$(dirname "${BASH_SOURCE[0]}")/tmux_session.sh"
e2e_need_tmux
e2e_need_program "$tarnevos"
e2e_build_demo "$build_dir" statements

e2e_setup tarnevos-statements

session="$work/SESSIO"
cp -r "$demo/SESSIO" "$session"
output="$work/informe.txt"
sed -i "s|^Sortida=.*\$|Sortida=TXT:$output\\r|" "$session/OrvoTerm.ini"
folder="$session/EXTRACTES"

tmux_ new-session -d -s e2e -x 100 -y 30 \
  "env PS1='e2e\$ ' TERM=xterm-256color bash --norc --noprofile -i"
wait_for 'e2e$' || exit 1
tmux_ send-keys -t e2e "KELROOT='$demo/ROOT/' KELTMP='$session/' KELEXE='$demo/BIN/' '$tarnevos'; echo tarnevos-exit=\$?" Enter

if wait_for 'Extractes dels propietaris ...: No'; then
  tmux_ send-keys -t e2e C-y
  tmux_ send-keys -t e2e -l '31/10/2026'
  # The choice is the last field: PgDn reaches it, S chooses Sí.
  tmux_ send-keys -t e2e PPage NPage
  tmux_ send-keys -t e2e -l 'S'
  # While the choice is edited, markers stand beside it: ◄Sí►.
  if wait_for 'Sí►'; then
    tmux_ send-keys -t e2e C-b
    if wait_for 'Voleu imprimir el resum?'; then
      tmux_ send-keys -t e2e -l 'S'
      tmux_ send-keys -t e2e Enter
    fi
  fi
fi

# The print program's message first, then the statements'.
if wait_for 'Premeu una tecla per continuar'; then
  tmux_ send-keys -t e2e Enter
fi
if wait_for 'EXTRACTES DESATS A'; then
  tmux_ capture-pane -p -t e2e | tr -d '\n' | grep -qF "99 EXTRACTES DESATS A" ||
    fail "the message does not count the 99 units of the demo"
  tmux_ send-keys -t e2e Enter
fi
wait_for 'Data de tall'
tmux_ send-keys -t e2e Escape
wait_for 'tarnevos-exit=0'

# One file per community with listed units, one for the run.
expected=(0001 0002 0003 0004 0005 0006 0007)
for code in "${expected[@]}"; do
  file="$folder/$code-20261031.pdf"
  if [[ ! -s "$file" ]]; then
    fail "missing $file"
    continue
  fi
  qpdf --check "$file" >/dev/null 2>&1 || fail "qpdf finds faults in $file"
done
run_file="$folder/EXTRACTES-0001-0999-20261031.pdf"
if [[ -s "$run_file" ]]; then
  qpdf --check "$run_file" >/dev/null 2>&1 || fail "qpdf finds faults in $run_file"
  pages=$(qpdf --show-npages "$run_file")
  [[ $pages == 99 ]] || fail "the run's file has $pages pages, not 99"
  pdftotext "$run_file" - | grep -q "a favor de" ||
    fail "the run's file holds no balance in words"
else
  fail "missing $run_file"
fi
count=$(ls "$folder" | wc -l)
[[ $count == 8 ]] || fail "$count files in $folder, not 8"

if ((failures > 0)); then
  echo "statements end to end: $failures check(s) failed"
  exit 1
fi
echo "statements end to end: all checks passed"
