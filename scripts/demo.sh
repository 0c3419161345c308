#!/usr/bin/env bash
# Builds TARNEVOS and its companions and starts it on the demo installation
# laid out under build/demo/. The build's progress is shown as it goes (the
# first build takes a few minutes); its full output is in build/demo.log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
mkdir -p build
log=build/demo.log
echo "Configuring the build in build/ ..."
if ! cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
echo "Building tarnevos, kelprint, keldades and the demo installation" \
  "(the first build takes a few minutes) ..."
# One line per step, with the share done; errors in full at the end.
if ! cmake --build build -j"$(nproc)" --target tarnevos kelprint keldades demo \
    2>&1 | tee -a "$log" |
    { grep --line-buffered -E '^\[ *[0-9]+%\]' || true; }; then
  echo "The build failed; the errors (all of it in $log):"
  grep -E -B2 -A6 "error|Error" "$log" | head -60
  exit 1
fi
echo "Starting TARNEVOS on the demo installation (Esc on the first field ends it)."
demo="$PWD/build/demo"
export KELROOT="$demo/ROOT/" KELTMP="$demo/SESSIO/" KELEXE="$demo/BIN/"
exec build/tarnevos
