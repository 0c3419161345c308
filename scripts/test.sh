#!/usr/bin/env bash
# Builds everything and runs every test: the unit tests and the end-to-end
# tests of the real programs, then the unit tests again built with
# AddressSanitizer and UndefinedBehaviorSanitizer. Ends with one line that
# counts passed and failed tests.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1
jobs=$(nproc)
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

configure_and_build() {  # dir, extra cmake options...
  local dir=$1; shift
  cmake -S . -B "$dir" -DTARNEVOS_WERROR=$werror "$@" >"$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j"$jobs" >"$dir.build.log" 2>&1 \
    || { grep -E -B2 -A6 "error|Error" "$dir.build.log" | head -150; return 1; }
}

mkdir -p build build-asan
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo || { echo "0 passed, 1 failed"; exit 1; }
configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DTARNEVOS_SANITIZE=ON || { echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0
run_ctest() {  # dir, label, extra ctest options...
  local dir=$1 label=$2; shift 2
  echo "== $label =="
  local log
  log=$(ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@" 2>&1)
  echo "$log" | tail -n 40
  local total fails
  total=$(echo "$log" | sed -n 's/.*tests passed, \([0-9]*\) tests* failed out of \([0-9]*\).*/\2/p' | tail -1)
  fails=$(echo "$log" | sed -n 's/.*tests passed, \([0-9]*\) tests* failed out of \([0-9]*\).*/\1/p' | tail -1)
  if [ -z "$total" ]; then
    # ctest found nothing to run or could not start: count it as a failure.
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + total - fails))
  failed=$((failed + fails))
}

run_ctest build "unit and end-to-end tests"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest build-asan "unit tests under ASan and UBSan" -LE e2e

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
