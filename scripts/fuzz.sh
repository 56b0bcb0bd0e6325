#!/bin/bash
# Builds the libFuzzer targets (clang-14, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each for the given
# number of seconds, starting from a scratch copy of its seed corpus in
# fuzz/corpus/ (nothing new is written into the repository). Fails when any
# target finds a crash; the crashing inputs are kept in build/fuzz/artifacts/.
# Usage: scripts/fuzz.sh [seconds per target]   (default: 30)
set -euo pipefail
cd "$(dirname "$0")/.."
source=$(pwd)
seconds=${1:-30}
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [seconds]" >&2; exit 2; }

bash scripts/install_deps.sh tests
build=$source/build/fuzz
mkdir -p "$build"
if ! { cmake -S . -B "$build" -DUPGRD_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-14 \
         -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$build" -j "$(nproc)" --target config_fuzzer \
         iplist_fuzzer listing_fuzzer module_banner_fuzzer version_fuzzer
     } > "$build/build.log" 2>&1; then
  tail -n 40 "$build/build.log"
  echo "fuzz build failed (see $build/build.log)"
  exit 1
fi

# The targets write their inputs to files on every run: in memory when
# possible, so that they do not wait on the disk.
scratch=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
work=$(mktemp -d "$scratch/upgrd_fuzz_run.XXXXXX")
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1

passed=0
failed=0
for target in config iplist listing module_banner version; do
  max_len=4096
  [ "$target" = listing ] && max_len=70000
  artifacts=$build/artifacts/$target
  log=$build/logs/$target.log
  rm -rf "$artifacts"
  mkdir -p "$artifacts" "$build/logs" "$work/corpus"
  cp -r "fuzz/corpus/$target" "$work/corpus/$target"
  # The fuzzers make their scratch working directories under TMPDIR.
  status=0
  TMPDIR=$work "$build/testing/${target}_fuzzer" -max_total_time="$seconds" \
    -max_len="$max_len" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$work/corpus/$target" > "$log" 2>&1 ||
    status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  found=$(ls -A "$artifacts" | head -n 1)
  if [ "$status" -eq 0 ] && [ -z "$found" ]; then
    passed=$((passed + 1))
    echo "${target}_fuzzer: passed, ${runs:-?} runs in ${seconds} s"
  else
    failed=$((failed + 1))
    reason=$(grep -m 1 -E "check failed|runtime error|ERROR" "$log" |
             cut -c 1-160 || true)
    echo "${target}_fuzzer: FAILED (exit $status: ${reason:-see log})," \
         "input: $artifacts/${found:-none}, log: $log"
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
