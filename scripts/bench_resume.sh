#!/bin/bash
# How soon a resumed night reaches its first card when the report it
# resumes from lists nearly every card as done: the fast-clock build, given
# N+1 cards and an earlier report with N of them upgraded by these modules,
# runs with --resume and a report of its own, in a network namespace of its
# own. Each of the N cards is recorded as skipped in the new report, synced
# as the shipped tool syncs (the records of cards that never run share one
# sync); the last card answers echoes on loopback but no FTP, so it ends at
# its login at once. The wall time is start-up, reading the earlier report,
# the N records and that one card: an upper bound on the time before the
# first card (goal: under a second; a warning else, since a busy machine
# lengthens it: the tool's CPU time is shown beside it). Fails when a
# record is missing.
# Usage: scripts/bench_resume.sh [N...]   (default: 10000)
# UPGRD_BUILD_DIR names another configured build (default: build/plain).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${UPGRD_BUILD_DIR:-build/plain}")
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(10000)
cmake --build "$build" -j "$(nproc)" --target upgrd_util_fast_clock > /dev/null
source scripts/sim_cards.sh

printf "%10s %10s %13s %9s\n" "cards done" "wall (s)" "tool CPU (s)" records
status=0
for n in "${counts[@]}"; do
  work=$(mktemp -d /tmp/upgrd_resume.XXXXXX)
  sim_setup "$work" $((n + 1)) 4096 4096 0 > /dev/null
  # The earlier night's records of the first N cards, as the tool writes
  # them.
  /usr/bin/python3 - "$work" "$n" <<'PYTHON'
import json, os, sys
work, n = sys.argv[1], int(sys.argv[2])
with open(os.path.join(work, "iplist.txt")) as f:
    ips = [line.split("=", 1)[1].strip() for line in f
           if line.startswith("SystemIP=")]
with open(os.path.join(work, "earlier.jsonl"), "w") as f:
    for ip in ips[:n]:
        f.write(json.dumps({
            "address": ip, "user_name": "admin", "outcome": "upgraded",
            "status": 0, "zel_before": "203", "zel_after": "211",
            "start": "2026-12-06T22:00:00+01:00",
            "end": "2026-12-06T22:04:00+01:00", "seconds": 240.0,
            "zel_attempts": 1, "app_attempts": 1, "logs_saved": True,
            "zel_target": "kvn_hw02_zel_211.bin",
            "app_target": "kvn_hw02_app_211.bin",
            "run_id": "20261206T220000-1a2b",
            "site": "bench"}) + "\n")
PYTHON
  (cd "$work" && unshare -rn bash -c '
    ip link set lo up
    start=$(date +%s.%N)
    /usr/bin/time -f "%U %S" -o time.txt \
        "$0/testing/upgrd_util_fast_clock" -y --resume earlier.jsonl \
        --site bench --report night.jsonl > console.txt 2>&1 || true
    end=$(date +%s.%N)
    echo "$start $end" > wall.txt
  ' "$build")
  read -r start end < "$work/wall.txt"
  read -r user_s system_s < <(tail -n 1 "$work/time.txt")
  wall=$(echo "$end - $start" | bc -l)
  cpu=$(echo "$user_s + $system_s" | bc -l)
  records=$(cat "$work/night.jsonl" 2> /dev/null | wc -l)
  skipped=$(grep -c '"outcome":"skipped"' "$work/night.jsonl" 2> /dev/null ||
    true)
  printf "%10d %10.2f %13.2f %9d\n" "$n" "$wall" "$cpu" "$records"
  [ "$(echo "$wall < 1" | bc -l)" = 1 ] ||
    echo "warning: $n done cards took a second or more" >&2
  if [ "$records" -eq $((n + 1)) ] && [ "$skipped" -eq "$n" ]; then
    rm -rf "$work"
  else
    echo "not every record was written, see $work" >&2
    status=1
  fi
done
exit $status
