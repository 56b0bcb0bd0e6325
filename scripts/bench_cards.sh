#!/bin/bash
# The tool's own time per card beyond the mandated waits: a whole run of the
# fast-clock build (each second of waiting takes a millisecond) against N
# simulated cards on loopback, in a network namespace of its own.
# Usage: scripts/bench_cards.sh [N...]   (default: 1 50)
# UPGRD_BUILD_DIR names another configured build (default: build/plain).
set -euo pipefail
cd "$(dirname "$0")/.."
source=$(pwd)
build=$(realpath "${UPGRD_BUILD_DIR:-build/plain}")
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(1 50)
cmake --build "$build" -j "$(nproc)" --target upgrd_util_fast_clock > /dev/null
source scripts/sim_cards.sh

printf "%6s %10s %10s %14s %12s\n" cards "wall (s)" "waits (s)" "per card (ms)" "peak RSS"
for n in "${counts[@]}"; do
  work=$(mktemp -d /tmp/upgrd_bench.XXXXXX)
  sim_setup "$work" "$n" $((256 << 10)) $((256 << 10)) 0.005
  (cd "$work" && unshare -rn bash -c '
    source "$0/scripts/sim_cards.sh"
    ip link set lo up
    sim_start 600
    printf "1\n1\n\n" | UPGRD_FAST_CLOCK_REPORT=slept.txt \
        /usr/bin/time -f "%e %M" -o time.txt \
        "$1/upgrd_util_fast_clock" > console.txt || true
    sim_stop
  ' "$source" "$build")
  read -r wall rss_kb < <(tail -n 1 "$work/time.txt")
  # The waits (180 + 30 ms a card on the fast clock) as really slept.
  waits=$(cat "$work/slept.txt")
  per_card=$(echo "($wall - $waits) * 1000 / $n" | bc -l)
  grep -q "All upgrades completed successfully" "$work/result.txt" ||
    echo "warning: not every card was upgraded, see $work" >&2
  printf "%6d %10.2f %10.2f %14.1f %9d KiB\n" "$n" "$wall" "$waits" "$per_card" "$rss_kb"
  rm -rf "$work"
done
