#!/bin/bash
# The tool's own time per card beyond the mandated waits: a whole run of the
# fast-clock build (each second of waiting takes a millisecond) against N
# simulated cards on loopback, in a network namespace of its own. With
# --campaign, a campaign of all N cards at once (-j N), whose waits are one
# card's, since the cards wait side by side; with --real, such a campaign by
# the shipped tool on the real clock (three and a half minutes). A campaign
# writes its report, report.jsonl, and syncs each record, its block in
# result.txt and the report's rename to the disk; with UPGRD_NO_SYNC=1 the
# fast-clock build leaves them unsynced, to measure what that costs.
# Usage: scripts/bench_cards.sh [--campaign|--real] [N...]   (default: 1 50)
# UPGRD_BUILD_DIR names another configured build (default: build/plain);
# UPGRD_MODULE_BYTES the size of each module file (default: 256 KiB);
# UPGRD_PARALLEL a campaign's -j (default: N, at most 1024).
set -euo pipefail
campaign=0 tool=testing/upgrd_util_fast_clock
case "${1:-}" in
  --campaign) campaign=1; shift ;;
  --real) campaign=1 tool=upgrd_util; shift ;;
esac
module_bytes=${UPGRD_MODULE_BYTES:-$((256 << 10))}
cd "$(dirname "$0")/.."
source=$(pwd)
build=$(realpath "${UPGRD_BUILD_DIR:-build/plain}")
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(1 50)
cmake --build "$build" -j "$(nproc)" --target "$(basename "$tool")" > /dev/null
source scripts/sim_cards.sh

printf "%6s %10s %10s %14s %12s %13s\n" cards "wall (s)" "waits (s)" "per card (ms)" "peak RSS" "tool CPU (s)"
for n in "${counts[@]}"; do
  work=$(mktemp -d /tmp/upgrd_bench.XXXXXX)
  sim_setup "$work" "$n" "$module_bytes" "$module_bytes" 0.005
  (cd "$work" && unshare -rn bash -c '
    source "$0/scripts/sim_cards.sh"
    ip link set lo up
    if [ "$2" = 1 ]; then
      sim_start 600 --one-socket
      options="--parallel ${UPGRD_PARALLEL:-$3} --report report.jsonl"
    else
      sim_start 600
      options=""
    fi
    printf "1\n1\n\n" | UPGRD_FAST_CLOCK_REPORT=slept.txt \
        UPGRD_SHIPPED_FTP_TIMEOUTS=1 \
        /usr/bin/time -f "%e %M %U %S" -o time.txt \
        "$1/$4" $options > console.txt || true
    sim_stop
  ' "$source" "$build" "$campaign" "$n" "$tool")
  read -r wall rss_kb user_s system_s < <(tail -n 1 "$work/time.txt")
  # The waits (180 + 30 ms a card on the fast clock) as really slept; in a
  # campaign they pass side by side, so they count once.
  if [ $tool = upgrd_util ]; then
    waits=210
  else
    waits=$(cat "$work/slept.txt")
    [ $campaign = 1 ] && waits=$(echo "$waits / $n" | bc -l)
  fi
  per_card=$(echo "($wall - $waits) * 1000 / $n" | bc -l)
  cpu=$(echo "$user_s + $system_s" | bc -l)
  printf "%6d %10.2f %10.2f %14.1f %9d KiB %13.2f\n" "$n" "$wall" "$waits" \
    "$per_card" "$rss_kb" "$cpu"
  records=$n
  [ $campaign = 1 ] && records=$(cat "$work/report.jsonl" 2> /dev/null | wc -l)
  if grep -q "All upgrades completed successfully" "$work/result.txt" &&
      [ "$records" = "$n" ]; then
    rm -rf "$work"
  else
    echo "warning: not every card was upgraded or recorded, see $work" >&2
  fi
done
