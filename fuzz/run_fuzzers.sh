#!/usr/bin/env bash
# Runs every libFuzzer target for a given time and prints one line per
# target: executions, coverage (edges), features, corpus size and findings
# (crash, leak, timeout and out-of-memory inputs kept).
#
#   bash fuzz/run_fuzzers.sh [-b BUILD_DIR] [-t SECONDS] [-j JOBS] [TARGET...]
#
# BUILD_DIR (default build-fuzz) is configured with
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DTARNEVOS_FUZZ=ON -DTARNEVOS_TESTS=OFF
# and is built first. SECONDS is per target (default 60); JOBS targets run
# at a time (default 1). Each target starts from its committed seeds
# (fuzz/seeds/<target>) and its own growing corpus (fuzz/corpus-<target>,
# not committed), with its dictionary (fuzz/dictionaries/<target>.dict)
# when there is one. Findings go to out/fuzz/<target>/; logs beside them.
# Exits 1 when anything was found.
set -uo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
seconds=60
jobs=1
while getopts "b:t:j:" option; do
  case $option in
    b) build=$OPTARG ;;
    t) seconds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    *) sed -n '2,16p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

cmake --build "$build" -j2 >/dev/null || { echo "cannot build $build"; exit 2; }
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzzer.cc; do
    targets+=("$(basename "$source" .cc)")
  done
fi

run_one() {  # target
  local target=$1 name=${1%_fuzzer}
  local binary="$build/fuzz/$target" out="out/fuzz/$name"
  local corpus="fuzz/corpus-$name" seeds="fuzz/seeds/$name"
  rm -rf "$out"
  mkdir -p "$out" "$corpus" "$seeds"
  local dict=()
  [ -f "fuzz/dictionaries/$name.dict" ] && dict=(-dict="fuzz/dictionaries/$name.dict")
  # Each target in a folder of its own: some write scratch files where
  # they run.
  (cd "$out" && exec nice "$OLDPWD/$binary" -max_total_time="$seconds" \
    -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$OLDPWD/$out/" "${dict[@]/#-dict=/-dict=$OLDPWD/}" \
    "$OLDPWD/$corpus" "$OLDPWD/$seeds") >"$out/log" 2>&1
  local executions coverage features corpus_size findings
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/log" | tail -1)
  local last
  last=$(grep -E '^#[0-9]+.*cov: ' "$out/log" | tail -1)
  coverage=$(echo "$last" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
  features=$(echo "$last" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')
  corpus_size=$(echo "$last" | sed -n 's/.*corp: \([0-9]*\).*/\1/p')
  findings=$(find "$out" -maxdepth 1 -name 'crash-*' -o -maxdepth 1 -name 'leak-*' \
    -o -maxdepth 1 -name 'timeout-*' -o -maxdepth 1 -name 'oom-*' | wc -l)
  printf '%-22s executions %10s  coverage %6s  features %6s  corpus %5s  findings %s\n' \
    "$name" "${executions:-?}" "${coverage:-?}" "${features:-?}" \
    "${corpus_size:-?}" "$findings" >"$out/summary"
}

for target in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/$target" ]; then
    echo "no such target: $build/fuzz/$target"
    exit 2
  fi
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_one "$target" &
done
wait

found=0
for target in "${targets[@]}"; do
  name=${target%_fuzzer}
  cat "out/fuzz/$name/summary"
  grep -q 'findings 0$' "out/fuzz/$name/summary" || found=1
done
exit $found
