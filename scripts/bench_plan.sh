#!/bin/bash
# How close the night's plan comes to the night: a campaign of the
# fast-clock build (each second of waiting takes a millisecond, and so the
# tool's own time counts a thousand times) against N simulated cards with
# waves and a window, in a network namespace of its own. The plan is the
# one the campaign makes as it starts (upgrd_campaign_planned_end_time_seconds
# in its metrics, counted from upgrd_campaign_start_time_seconds); the real
# end is the run's wall time on the fast clock. Records are left unsynced
# (UPGRD_NO_SYNC): the few milliseconds a card waits for its syncs would
# count as seconds here, where on the real clock they are nothing beside a
# card's four minutes. Fails when they differ by more than UPGRD_PLAN_OFF
# percent (default 3; the fast clock itself adds more beyond -j 6).
# Usage: scripts/bench_plan.sh [CARDS [J [WAVES [NOT_AFTER [OPTION...]]]]]
#   (default: 40 cards, -j 4, --waves 2,25%, --not-after 10:00, which on
#   the fast clock's 09:30 is a window of 30 minutes); the options after
#   are the night's too ("--soak 2m --per-group 2 --link-rate 20M").
#   UPGRD_PLAN_GROUPS=N gives the cards N groups in groups.csv (card i in
#   rack i mod N, the first four cards two pairs), for --groups groups.csv.
# UPGRD_BUILD_DIR names another configured build (default: build/plain);
# UPGRD_MODULE_BYTES the size of each module file (default: 256 KiB).
set -euo pipefail
cards=${1:-40} parallel=${2:-4} waves=${3:-2,25%} not_after=${4:-10:00}
module_bytes=${UPGRD_MODULE_BYTES:-$((256 << 10))}
limit=${UPGRD_PLAN_OFF:-3}
cd "$(dirname "$0")/.."
source=$(pwd)
build=$(realpath "${UPGRD_BUILD_DIR:-build/plain}")
cmake --build "$build" -j "$(nproc)" --target upgrd_util_fast_clock > /dev/null
source scripts/sim_cards.sh

work=$(mktemp -d /tmp/upgrd_plan.XXXXXX)
sim_setup "$work" "$cards" "$module_bytes" "$module_bytes" 0.005
if [ -n "${UPGRD_PLAN_GROUPS:-}" ]; then
  awk -F= -v n="$UPGRD_PLAN_GROUPS" '
    BEGIN { print "address,group,pair" }
    $1 == "SystemIP" { i++; print $2 ",rack" (i % n) "," (i <= 4 ? "p" int((i + 1) / 2) : "") }
  ' "$work/iplist.txt" > "$work/groups.csv"
fi
shift $(( $# < 4 ? $# : 4 ))
(cd "$work" && unshare -rn bash -c '
  source "$0/scripts/sim_cards.sh"
  ip link set lo up
  sim_start 600 --one-socket
  start=$(date +%s.%N)
  UPGRD_NO_SYNC=1 "$1/testing/upgrd_util_fast_clock" -y -j "$2" --waves "$3" \
      --not-after "$4" --metrics m.prom "${@:5}" > console.txt || true
  end=$(date +%s.%N)
  echo "$start $end" > wall.txt
  sim_stop
' "$source" "$build" "$parallel" "$waves" "$not_after" "$@")

read -r start end < "$work/wall.txt"
real=$(echo "($end - $start) * 1000" | bc -l)
metric() { awk -v name="$1" '$1 == name { print $2 }' "$work/m.prom"; }
planned=$(echo "$(metric upgrd_campaign_planned_end_time_seconds) - \
$(metric upgrd_campaign_start_time_seconds)" | bc -l)
not_started=$(metric 'upgrd_cards{outcome="not_started"}')
off=$(echo "($planned - $real) * 100 / $real" | bc -l)
printf "%6s %4s %10s %10s %12s %12s %8s %12s\n" cards -j waves window \
  "planned (s)" "real (s)" "off (%)" "not started"
printf "%6d %4d %10s %10s %12.0f %12.0f %8.1f %12s\n" "$cards" "$parallel" \
  "$waves" "$not_after" "$planned" "$real" "$off" "$not_started"
if [ "$(echo "$off < $limit && $off > -$limit" | bc -l)" = 1 ]; then
  rm -rf "$work"
else
  echo "the plan is more than $limit% off, see $work" >&2
  exit 1
fi
