#!/usr/bin/env bash
# Every manual page renders without a single warning (groff -ww), and each
# program's page names every option its --help names.
# Arguments: build directory, source directory.
set -u
build_dir=$(cd "${1:?build directory}" && pwd)
source_dir=$(cd "${2:?source directory}" && pwd)

if ! command -v groff >/dev/null 2>&1; then
  echo "SKIP: groff is not installed"
  exit 0
fi
failures=0
for page in "$source_dir"/man/*.[15]; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  if [[ -n $warnings ]]; then
    echo "FAIL: $(basename "$page") renders with warnings:"
    echo "$warnings"
    failures=$((failures + 1))
  fi
done

# The options --help lists, each in the program's page.
declare -A programs=(
  [tarnevos]="$build_dir/tarnevos"
  [kelprint]="$build_dir/tools/kelprint/kelprint"
  [keldades]="$build_dir/tools/keldades/keldades"
)
for name in "${!programs[@]}"; do
  page=$(groff -man -Tutf8 "$source_dir/man/$name.1" 2>/dev/null | sed 's/.\x08//g')
  for option in $("${programs[$name]}" --help | grep -oE -- '--[a-z]+' | sort -u); do
    if ! grep -qF -- "$option" <<<"$page"; then
      echo "FAIL: $name(1) does not describe $option"
      failures=$((failures + 1))
    fi
  done
done

if ((failures > 0)); then
  echo "manual pages: $failures check(s) failed"
  exit 1
fi
echo "manual pages: all checks passed"
