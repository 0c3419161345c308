#!/usr/bin/env bash
# From an installed tree to a first report, as a new user goes: install into
# a staging prefix with DESTDIR, make an installation with the installed
# `keldades new` from the guide's dataset, then start the installed
# tarnevos in a real terminal (tmux) from inside that installation with
# none of KELROOT, KELTMP or KELEXE set. The report goes to a PDF whose text
# (pdftotext) must show the guide's figures; the terminal must be restored
# and the exit code 0. Then every settings, form, language and help file of
# the installation and the session is rewritten in UTF-8 and the same
# report must give a print file identical to the first one.
# Arguments: build directory, source directory.
set -u

build_dir=$(cd "${1:?build directory}" && pwd)
source_dir=$(cd "${2:?source directory}" && pwd)
dataset="$source_dir/docs/examples/first-report.json"

for tool in tmux pdftotext iconv; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 0
  fi
done

source "$source_dir/tests/e2e/tmux_session.sh"
e2e_setup tarnevos-install

# A user of our own making: no suite variables, a home in the scratch
# folder, no runtime folder, the installed programs first on the PATH.
unset KELROOT KELTMP KELEXE XDG_RUNTIME_DIR
export HOME="$work/home"
mkdir -p "$HOME"
stage="$work/stage"
prefix=/usr/local
bin="$stage$prefix/bin"
export PATH="$bin:$PATH"

# Waits up to 20 seconds for TEXT to leave the screen.
wait_gone() {
  local text=$1 i
  for ((i = 0; i < 200; i++)); do
    tmux_ capture-pane -p -t e2e | grep -qF -- "$text" || return 0
    sleep 0.1
  done
  fail "still on the screen: $text"
  return 1
}

# ---- Installing -----------------------------------------------------------
if ! DESTDIR="$stage" cmake --install "$build_dir" --prefix "$prefix" \
    >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi
for file in bin/tarnevos bin/kelprint bin/keldades libexec/tarnevos/KELPRINT \
    share/tarnevos/Orvo.ini share/tarnevos/FORMS/TARNEVOS.KPN \
    share/tarnevos/LOCALE/TARNEVOS.LNG share/tarnevos/AJUDA/TARNEVOS.HLP \
    share/tarnevos/AJUDA/QAVIMENU.HLP share/tarnevos/ddf/CobramH.xdf \
    share/man/man1/tarnevos.1.gz share/man/man1/kelprint.1.gz \
    share/man/man1/keldades.1.gz share/man/man5/tarnevos.5.gz; do
  [[ -e "$stage$prefix/$file" ]] || fail "not installed: $file"
done
[[ -x "$stage$prefix/libexec/tarnevos/KELPRINT" ]] ||
  fail "the print program is not where tarnevos looks for it"
# The templates are in CP850, as the program reads them.
grep -q $'^\[Usuari\]\r$' "$stage$prefix/share/tarnevos/Orvo.ini" ||
  fail "Orvo.ini is not laid out with CR LF"
LC_ALL=C grep -q $'Par\x85metres' "$stage$prefix/share/tarnevos/LOCALE/TARNEVOS.LNG" ||
  fail "the language file is not in CP850"

# ---- Command lines ----------------------------------------------------------
for program in tarnevos kelprint keldades; do
  out=$("$program" --help 2>"$work/err"); code=$?
  [[ $code == 0 && $out == *usage:* && ! -s "$work/err" ]] ||
    fail "$program --help: exit $code"
  out=$("$program" --version 2>"$work/err"); code=$?
  [[ $code == 0 && $out == "$program "[0-9]* ]] ||
    fail "$program --version: exit $code, '$out'"
  out=$("$program" --no-such-option 2>"$work/err"); code=$?
  [[ $code == 64 && -z $out ]] && grep -q "usage:" "$work/err" ||
    fail "$program --no-such-option: exit $code"
done

# No installation here: the message says what is missing and what to do.
(cd "$work" && tarnevos >"$work/out" 2>"$work/err"); code=$?
[[ $code == 1 ]] || fail "tarnevos outside an installation: exit $code"
grep -q "no installation found" "$work/err" && grep -q "keldades new" "$work/err" ||
  fail "no useful message outside an installation: $(cat "$work/err")"

# ---- A new installation -----------------------------------------------------
root="$work/finques"
keldades new "$root" "$dataset" >"$work/new.log" 2>&1 ||
  { cat "$work/new.log"; fail "keldades new"; }
grep -q "4 units" "$work/new.log" || fail "keldades new did not load the units"
grep -qF "from the templates in $stage$prefix/share/tarnevos/" "$work/new.log" ||
  fail "keldades new did not use the installed templates: $(cat "$work/new.log")"
keldades new "$root" >"$work/new-again.log" 2>&1 &&
  fail "keldades new reused an installation"
grep -q "already holds an installation" "$work/new-again.log" ||
  fail "keldades new did not say why it refused: $(cat "$work/new-again.log")"
# The administrator's lines, as the guide writes them, in CP850 as the
# file is (sed keeps the CR of each line): "Administració", "Col·legiat".
sed -i -e 's/^Linia1=/Linia1=FINQUES DEL CAMP, SL/' \
  -e $'s/^Linia2=/Linia2=Administraci\xa2 de finques/' \
  -e 's/^Linia3=/Linia3=Pl. Major, 3/' -e 's/^Linia4=/Linia4=25001 LLEIDA/' \
  -e 's/^Linia5=/Linia5=Tel. 973 000 000/' \
  -e $'s/^Linia6=/Linia6=Col\xfalegiat n\xa3m. 25/' \
  -e 's/^Linia7=/Linia7=ESB25123456/' "$root/Orvo.ini"

session="$HOME/.local/state/tarnevos"
pdf="$work/resum.pdf"

# Runs the report to the PDF in the terminal; leaves the print file in
# $work/NAME.prn. The program is started from inside the installation.
# Arguments: NAME, then the form's first label, the confirmation's question
# and the print program's request for a key, in the session's language.
run_report() {
  local name=$1 label=$2 question=$3 key_prompt=$4
  rm -f "$pdf" "$work/before" "$work/after"
  tmux_ send-keys -t e2e "clear" Enter
  tmux_ clear-history -t e2e
  wait_gone 'tarnevos-exit' || return 1
  tmux_ send-keys -t e2e "cd '$root' && stty -g >'$work/before'; tarnevos --output 'PDF:$pdf'; echo tarnevos-exit=\$?; stty -g >'$work/after'" Enter
  wait_for "$label" || return 1
  # F1 finds the installation's help for the menu entry TARNEVOS.
  tmux_ send-keys -t e2e F1
  wait_for 'Aquest programa imprimeix el resum de liquidació' || return 1
  tmux_ send-keys -t e2e Escape
  wait_gone 'Aquest programa imprimeix' || return 1
  tmux_ send-keys -t e2e C-y
  tmux_ send-keys -t e2e -l '31/12/2026'
  tmux_ send-keys -t e2e C-b
  wait_for "$question" || return 1
  tmux_ send-keys -t e2e -l 'S'
  tmux_ send-keys -t e2e Enter
  local i
  for ((i = 0; i < 300; i++)); do
    [[ -s "$pdf" ]] && break
    sleep 0.1
  done
  [[ -s "$pdf" ]] || { fail "no PDF was written ($name)"; return 1; }
  # The print program says where the PDF went and waits for a key; then
  # the form is back.
  wait_for "$key_prompt" || return 1
  tmux_ capture-pane -p -t e2e -J | grep -qF "$pdf" ||
    fail "the print program does not say where the PDF went ($name)"
  tmux_ send-keys -t e2e Enter
  wait_for "$label" || return 1
  tmux_ send-keys -t e2e Escape
  wait_for 'tarnevos-exit=0' || return 1
  for ((i = 0; i < 50; i++)); do
    [[ -s "$work/after" ]] && break
    sleep 0.1
  done
  [[ $(tmux_ display -p -t e2e '#{alternate_on}') == 0 ]] ||
    fail "the alternate screen was not left ($name)"
  cmp -s "$work/before" "$work/after" ||
    fail "terminal modes not restored ($name)"
  cp "$session/kelprint.tmp" "$work/$name.prn" ||
    fail "no print file in the private session ($name)"
}

# ---- The report, settings as installed (CP850) ------------------------------
tmux_ new-session -d -s e2e -x 100 -y 30 \
  "env PS1='e2e\$ ' TERM=xterm-256color bash --norc --noprofile -i"
wait_for 'e2e$' || exit 1
run_report cp850 'Data de tall' 'Voleu imprimir el resum?' \
  'Premeu una tecla per continuar'
[[ $(stat -c %a "$session") == 700 ]] || fail "the session folder is not private"
for file in Sessio.ini OrvoTerm.ini; do
  [[ -s "$session/$file" ]] || fail "$file was not written in the session"
done
pdftotext -layout "$pdf" "$work/resum.txt" 2>/dev/null ||
  fail "pdftotext cannot read the PDF"
# The guide's figures (docs/guide.md, "What the report shows").
for text in 'FINQUES DEL CAMP, SL' 'Administració de finques' \
    'Col·legiat núm. 25' 'N.I.F. ESB25123456' \
    'RESUM DE LIQUIDACIÓ DES DEL 1 DE JULIOL DEL 2026 FINS AL 31 DE DESEMBRE DEL 2026' \
    '(1) C/ MAJOR, 12' 'COLUMNA < B > : ASCENSOR' \
    '001 BAIXOS' '002 1r 1a' '-85,50' '269,26' '150,00' '-404,76' \
    '004 2n 1a' '-40,00' 'AJUST' 'TOTAL COMUNITAT'; do
  grep -qF -- "$text" "$work/resum.txt" || fail "the PDF lacks: $text"
done

# ---- The same report, every text file in UTF-8 --------------------------------
# In Spanish, so that the language file's translations are read too.
sed -i 's/^Idioma=.*$/Idioma=SPA\r/' "$session/OrvoTerm.ini"
run_report spanish 'Fecha de corte' '¿Desea imprimir el resumen?' \
  'Pulse una tecla para continuar'
grep -q 'RESUMEN DE LIQUIDACI' "$work/spanish.prn" ||
  fail "the Spanish report is not in Spanish"
for file in "$root/Orvo.ini" "$root/FORMS/TARNEVOS.KPN" \
    "$root/LOCALE/TARNEVOS.LNG" "$root/AJUDA/TARNEVOS.HLP" \
    "$session/Sessio.ini" "$session/OrvoTerm.ini"; do
  iconv -f CP850 -t UTF-8 "$file" >"$file.utf8" && mv "$file.utf8" "$file" ||
    fail "cannot convert $file"
done
# One with the byte-order mark, one with LF line ends, as editors save.
printf '\xef\xbb\xbf' | cat - "$root/Orvo.ini" >"$work/orvo" && mv "$work/orvo" "$root/Orvo.ini"
sed -i 's/\r$//' "$root/LOCALE/TARNEVOS.LNG"
LC_ALL=C grep -q $'Col\xc2\xb7legiat\|Par\xc3\xa0metres' "$root/LOCALE/TARNEVOS.LNG" ||
  fail "the language file was not rewritten in UTF-8"
run_report utf8 'Fecha de corte' '¿Desea imprimir el resumen?' \
  'Pulse una tecla para continuar'
if ! cmp -s "$work/spanish.prn" "$work/utf8.prn"; then
  fail "the print file differs when the settings are in UTF-8"
  diff <(iconv -f CP850 -t UTF-8 "$work/spanish.prn") \
    <(iconv -f CP850 -t UTF-8 "$work/utf8.prn") | head -20
fi

if ((failures > 0)); then
  echo "install end to end: $failures check(s) failed"
  exit 1
fi
echo "install end to end: all checks passed"
