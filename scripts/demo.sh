#!/bin/bash
# A complete upgrade of one simulated card by the real tool, with its real
# waits: about four minutes, most of it the three minutes a card is given to
# install a new ZEL module. Everything happens in a network namespace of its
# own, on loopback; the working directory is left for a look afterwards.
# With options (e.g. --parallel 20), a campaign of 20 simulated cards with
# those options instead, in about the same time.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$(pwd)

bash scripts/install_deps.sh demo
# The tool alone, as an operator builds it: no test framework needed.
cmake -S . -B build/tool -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  > /dev/null
cmake --build build/tool -j "$(nproc)" --target upgrd_util > /dev/null

source scripts/sim_cards.sh
work=$(mktemp -d /tmp/upgrd_demo.XXXXXX)
cards=1
[ $# -gt 0 ] && cards=20
sim_setup "$work" $cards $((2 << 20)) $((1 << 20)) 20 \
  "VRN Operating System" "VRN Application"
cd "$work"
# A comment line, as an operator's list may have one.
sed -i '1i ; the simulated card of the demonstration' iplist.txt

echo "Working directory: $work"
echo "The run takes about four minutes (the card is given three minutes to"
echo "install its new ZEL module, and half a minute for its application)."
echo "The answers 1, 1 and Enter are typed in for you."
echo
# unshare -r maps the caller to root in a user namespace of its own, so that
# the card may take port 21 and the tool may send ICMP without real root.
unshare -rn bash -c '
  source "$0/scripts/sim_cards.sh"
  ip link set lo up
  sim_start 900
  printf "1\n1\n\n" | "$0/build/tool/upgrd_util" "$@" || true
  sim_stop
' "$source" "$@"
echo
echo "== result.txt =="
cat result.txt
echo "== files left in $work =="
ls -l
