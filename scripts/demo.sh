#!/bin/bash
# A complete upgrade of one simulated card by the real tool, with its real
# waits: about four minutes, most of it the three minutes a card is given to
# install a new ZEL module. Everything happens in a network namespace of its
# own, on loopback; the working directory is left for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$(pwd)

bash scripts/install_deps.sh
cmake -S . -B build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build/plain -j "$(nproc)" --target upgrd_util > /dev/null

work=$(mktemp -d /tmp/upgrd_demo.XXXXXX)
cd "$work"
# Module files: a 256-byte header with the version text at 42 and the
# module's name at 91, then a body.
/usr/bin/python3 - <<'PYTHON'
import os
def module(path, version, name, size):
    data = bytearray(os.urandom(size))
    data[:256] = bytes(256)
    data[42:42 + len(version)] = version.encode()
    data[91:91 + len(name)] = name.encode()
    open(path, "wb").write(data)
module("kvn_hw02_zel_211.bin", "211", "VRN Operating System", 2 << 20)
module("kvn_hw02_app_211.bin", "211", "VRN Application", 1 << 20)
PYTHON
cat > config.txt <<'CONFIG'
ZEL = kvn_hw02_zel_211.bin
APP = kvn_hw02_app_211.bin
CONFIG
cat > iplist.txt <<'LIST'
; the simulated card of the demonstration
SystemIP=127.0.0.2
SystemUserName=admin
SystemPassword=secret
LIST
cat > cards.json <<'CARDS'
[{"ip": "127.0.0.2", "user": "admin", "password": "secret",
  "zel": "kvn_hw02_zel_203.bin", "app": "kvn_hw02_app_203.bin",
  "data": "data log of the card\n", "event": "event log of the card\n",
  "restart_s": 20}]
CARDS

echo "Working directory: $work"
echo "The run takes about four minutes (the card is given three minutes to"
echo "install its new ZEL module, and half a minute for its application)."
echo "The answers 1, 1 and Enter are typed in for you."
echo
# unshare -r maps the caller to root in a user namespace of its own, so that
# the card may take port 21 and the tool may send ICMP without real root.
unshare -rn bash -c '
  ip link set lo up
  /usr/bin/python3 "$0/sim/sim_card.py" --cards cards.json --ready-file ready \
      --lifetime 900 &
  sim=$!
  for i in $(seq 100); do [ -f ready ] && break; sleep 0.1; done
  printf "1\n1\n\n" | "$0/build/plain/upgrd_util" || true
  kill $sim
' "$source"
echo
echo "== result.txt =="
cat result.txt
echo "== files left in $work =="
ls -l
