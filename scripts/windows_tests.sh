#!/bin/bash
# Builds upgrd_util.exe with MinGW-w64 and tests it under Wine, headless, in
# a network namespace of its own: the unit tests built for Windows, then a
# whole upgrade of a simulated card on loopback by the Windows tool, whose
# console and result.txt must match those of the Linux tool in the same run
# (result.txt with Windows line ends). Needs root (Wine's ICMP).
set -euo pipefail
cd "$(dirname "$0")/.."
source=$(pwd)

bash scripts/install_deps.sh tests
bash scripts/build_windows.sh > /dev/null
cmake -S . -B build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
  > /dev/null
cmake --build build/plain -j "$(nproc)" --target upgrd_util_fast_clock > /dev/null

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
# A prefix of the run's own, made before the namespace so that Wine's first
# start does not count against any test.
export WINEPREFIX=$(mktemp -d /tmp/upgrd_wine.XXXXXX)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
timeout 300 wineboot -i > /dev/null 2>&1 || true
# Wine's server opens sockets too: it must start again inside the namespace.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true

work=$(mktemp -d /tmp/upgrd_windows.XXXXXX)
unshare -n bash -s "$source" "$work" <<'NAMESPACE'
set -euo pipefail
source=$1 work=$2
source "$source/scripts/sim_cards.sh"
ip link set lo up
echo "== unit tests under Wine =="
(cd "$source/build/windows/testing" && timeout 600 wine upgrd_tests.exe)

# One card, upgraded once by the Linux tool and once by the Windows tool,
# each from a fresh card and a fresh working directory.
run() {  # run NAME TOOL...
  local dir=$work/$1; shift
  sim_setup "$dir" 1 65536 65536 0.005
  cd "$dir"
  sim_start 300
  printf '1\r\n1\r\n\r\n' | timeout 300 "$@" > console.txt 2>&1 || true
  sim_stop
}
run linux "$source/build/plain/testing/upgrd_util_fast_clock"
run windows wine "$source/build/windows/testing/upgrd_util_fast_clock.exe"

# A campaign of a few cards at once by the Windows tool: threads, WinINet
# and the ICMP echo service from many threads.
dir=$work/campaign
sim_setup "$dir" 6 65536 65536 0.005
cd "$dir"
sim_start 300
set +e
printf '1\r\n1\r\n\r\n' | timeout 300 wine \
  "$source/build/windows/testing/upgrd_util_fast_clock.exe" --parallel 4 \
  --html page.html --metrics m.prom > console.txt 2>&1
campaign_exit=$?
set -e
sim_stop

cd "$work"
set +e
status=0
check() {  # check WHAT OK
  if [ "$2" = 0 ]; then echo "passed: $1"; passed=$((passed + 1));
  else echo "FAILED: $1"; failed=$((failed + 1)); status=1; fi
}
passed=0 failed=0
grep -q "All upgrades completed successfully" windows/result.txt; check "the Windows tool upgraded the card" $?
cmp -s <(tr -d '\r' < windows/console.txt) linux/console.txt; check "console as on Linux" $?
cmp -s <(sed 's/$/\r/' linux/result.txt) windows/result.txt; check "result.txt as on Linux, with CR LF line ends" $?
cmp -s linux/127.0.0.2_data.txt windows/127.0.0.2_data.txt; check "the card's logs saved" $?
[ "$campaign_exit" = 0 ] && [ "$(grep -c 'upgraded in' campaign/console.txt)" = 6 ] &&
  [ "$(grep -c '^\*\*\* Card 127\.0\.0\.[2-7] \*\*\*' campaign/result.txt)" = 6 ]
check "a campaign of 6 cards, 4 at a time, by the Windows tool" $?
# Written anew over themselves as cards ended: a rename over a file.
grep -q 'data-outcome="upgraded" data-count="6"' campaign/page.html &&
  grep -q '^upgrd_cards{outcome="upgraded"} 6$' campaign/m.prom &&
  [ -z "$(ls -A campaign | grep -E '^\.(page\.html|m\.prom)\.')" ]
check "the campaign's page and metrics by the Windows tool" $?
if [ $status -ne 0 ]; then
  diff <(tr -d '\r' < windows/console.txt | cat -A) <(cat -A linux/console.txt) | head -20 || true
  diff <(tr -d '\r' < windows/result.txt) linux/result.txt | head -20 || true
  tail -20 campaign/console.txt || true
fi
echo "$passed passed, $failed failed"
exit $status
NAMESPACE
