#!/usr/bin/env bash
# Builds TARNEVOS and its companions and starts it on the demo installation
# laid out under build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tarnevos kelprint keldades demo >/dev/null
demo="$PWD/build/demo"
export KELROOT="$demo/ROOT/" KELTMP="$demo/SESSIO/" KELEXE="$demo/BIN/"
exec build/tarnevos
