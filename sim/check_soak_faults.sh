#!/bin/sh
# Shows by hand that the simulated cards' revert_after and silent_after
# work: run as  tests/in_netns.sh sh sim/check_soak_faults.sh  (needs curl,
# ping and nft). Prints what each card lists and answers, before and after.
set -eu
sim=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"
old=kvn_hw02_zel_210.bin new=kvn_hw02_zel_211.bin
cat > cards.json <<JSON
[{"ip": "127.0.0.2", "user": "u", "password": "p", "zel": "$old",
  "revert_after": 2},
 {"ip": "127.0.0.3", "user": "u", "password": "p", "zel": "$old",
  "silent_after": 2}]
JSON
/usr/bin/python3 "$sim/sim_card.py" --cards cards.json --ready-file ready \
  --lifetime 30 &
pid=$!
for i in $(seq 100); do [ -f ready ] && break; sleep 0.1; done
echo module > "$new"
say() {  # what card $1 lists and whether it answers echo
  names=$(curl -s --max-time 5 -l "ftp://u:p@$1/" | tr -d '\r' | tr '\n' ' ')
  if ping -c 1 -W 1 "$1" > /dev/null; then echo=answers; else echo=silent; fi
  echo "$1 $2: lists [${names:-nothing}], echo $echo"
}
for ip in 127.0.0.2 127.0.0.3; do
  curl -s --max-time 5 -T "$new" "ftp://u:p@$ip/"
  say $ip "after the upload"
done
sleep 3
for ip in 127.0.0.2 127.0.0.3; do say $ip "3 s later"; done
