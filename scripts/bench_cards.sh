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

printf "%6s %10s %10s %14s %12s\n" cards "wall (s)" "waits (s)" "per card (ms)" "peak RSS"
for n in "${counts[@]}"; do
  work=$(mktemp -d /tmp/upgrd_bench.XXXXXX)
  /usr/bin/python3 - "$work" "$n" <<'PYTHON'
import json, os, sys
work, n = sys.argv[1], int(sys.argv[2])
def module(path, version, name):
    data = bytearray(256 * 1024)
    data[42:42 + len(version)] = version.encode()
    data[91:91 + len(name)] = name.encode()
    open(os.path.join(work, path), "wb").write(data)
module("kvn_hw02_zel_211.bin", "211", "VRN OS")
module("kvn_hw02_app_211.bin", "211", "VRN APP")
open(os.path.join(work, "config.txt"), "w").write(
    "ZEL = kvn_hw02_zel_211.bin\nAPP = kvn_hw02_app_211.bin\n")
cards, lines = [], []
for i in range(n):
    ip = "127.0.%d.%d" % (i // 250, 2 + i % 250)
    cards.append({"ip": ip, "user": "admin", "password": "secret",
                  "zel": "kvn_hw02_zel_203.bin", "data": "d", "event": "e",
                  "restart_s": 0.005})
    lines.append("SystemIP=%s\nSystemUserName=admin\nSystemPassword=secret\n" % ip)
open(os.path.join(work, "cards.json"), "w").write(json.dumps(cards))
open(os.path.join(work, "iplist.txt"), "w").write("".join(lines))
PYTHON
  (cd "$work" && unshare -rn bash -c '
    ip link set lo up
    /usr/bin/python3 "$0/sim/sim_card.py" --cards cards.json --ready-file ready \
        --lifetime 600 &
    sim=$!
    for i in $(seq 200); do [ -f ready ] && break; sleep 0.05; done
    printf "1\n1\n\n" | UPGRD_FAST_CLOCK_REPORT=slept.txt \
        /usr/bin/time -f "%e %M" -o time.txt \
        "$1/upgrd_util_fast_clock" > console.txt || true
    kill $sim
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
