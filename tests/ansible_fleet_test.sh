#!/bin/bash
# The Ansible role and sample playbook of deploy/ansible, run twice against
# three sites on this machine: each site a network namespace of its own with
# three simulated cards and its own working directory, reached through
# Ansible's local connection. One site (not the canary) has a card that
# refuses the fleet's password, which comes from an Ansible Vault file.
# Then ansible-lint on the role and the playbook.
# Usage (as root): tests/ansible_fleet_test.sh FAST_CLOCK_TOOL
set -euo pipefail
tool=$(realpath "$1")
source=$(cd "$(dirname "$0")/.." && pwd)
playbook=$source/deploy/ansible
tmp=$(mktemp -d /tmp/upgrd_fleet.XXXXXX)
holders=()
cleanup() {
  local pid
  for pid in "${holders[@]}"; do
    kill "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Distinctive, so that a leak is found by a plain grep; at most 10 characters.
password=Vt7-fleetQ
sites=(site_a site_b site_c)
bad_card=127.0.2.3  # site_b's card with a password of its own

# Each site: its cards on 127.0.N.x (N = 1, 2, 3), an iplist.txt without
# passwords, and a shell in a network namespace of its own that runs the
# simulated cards and keeps the namespace while the test uses it.
source "$source/scripts/sim_cards.sh"
n=0
for site in "${sites[@]}"; do
  n=$((n + 1))
  dir=$tmp/$site
  sim_setup "$dir" 3 65536 65536 0.005
  /usr/bin/python3 - "$dir" "$n" "$password" "$bad_card" << 'EOF'
import json, sys
d, n, password, bad = sys.argv[1:]
cards = json.load(open(d + "/cards.json"))
for card in cards:
    card["ip"] = card["ip"].replace("127.0.0.", "127.0.%s." % n)
    card["password"] = "not-it" if card["ip"] == bad else password
json.dump(cards, open(d + "/cards.json", "w"))
with open(d + "/iplist.txt", "w") as f:
    for card in cards:
        f.write("SystemIP=%s\nSystemUserName=admin\n" % card["ip"])
EOF
  unshare -n bash -c '
    source "$1/scripts/sim_cards.sh"
    cd "$2"
    ip link set lo up
    trap "sim_stop; exit 0" TERM
    sim_start 150 --upload-log "$2/uploads.log"
    wait "$sim_pid"' holder "$source" "$dir" &
  holders+=($!)
done
for i in $(seq 150); do
  [ -f "$tmp/site_a/ready" ] && [ -f "$tmp/site_b/ready" ] &&
    [ -f "$tmp/site_c/ready" ] && break
  sleep 0.1
done
for site in "${sites[@]}"; do
  [ -f "$tmp/$site/ready" ] || { echo "the cards of $site did not start" >&2; exit 1; }
done
mkdir -p "$tmp/release"
cp "$tmp/site_a"/{config.txt,kvn_hw02_zel_211.bin,kvn_hw02_app_211.bin,kvn_hw02_zel_202.bin} \
  "$tmp/release/"

# Ansible reads and writes nothing outside the temporary directory.
export HOME=$tmp/home
mkdir -p "$HOME"
export ANSIBLE_CONFIG=$tmp/ansible.cfg ANSIBLE_HOME=$tmp/ansible
export ANSIBLE_LOCAL_TEMP=$tmp/ansible/local ANSIBLE_REMOTE_TEMP=$tmp/ansible/remote
export ANSIBLE_ASYNC_DIR=$tmp/ansible/async ANSIBLE_NOCOLOR=1
export ANSIBLE_HOST_KEY_CHECKING=False ANSIBLE_RETRY_FILES_ENABLED=False
printf '[defaults]\ninventory = %s/inventory.yml\n' "$tmp" > "$ANSIBLE_CONFIG"

echo "upgrd_campaign_password: $password" > "$tmp/vault.yml"
head -c 24 /dev/urandom | base64 > "$tmp/vault_pass"
ansible-vault encrypt --vault-password-file "$tmp/vault_pass" "$tmp/vault.yml" \
  > /dev/null

{
  cat << EOF
all:
  vars:
    ansible_connection: local
    ansible_python_interpreter: /usr/bin/python3
  children:
    sites:
      vars:
        upgrd_campaign_tool: $tool
        upgrd_campaign_config: $tmp/release/config.txt
        upgrd_campaign_modules:
          - $tmp/release/kvn_hw02_zel_211.bin
          - $tmp/release/kvn_hw02_app_211.bin
          - $tmp/release/kvn_hw02_zel_202.bin
        upgrd_campaign_parallel: 3
        upgrd_campaign_waves: 1,50%
        upgrd_campaign_max_failure_rate: 50%
        upgrd_campaign_not_after: "23:59"
        upgrd_campaign_async: 120
        upgrd_campaign_poll: 1
      children:
EOF
  n=0
  for site in "${sites[@]}"; do
    [ $n = 0 ] && echo "        canary:" && echo "          hosts:"
    [ $n = 1 ] && echo "        others:" && echo "          hosts:"
    cat << EOF
            $site:
              upgrd_campaign_workdir: $tmp/$site/work
              upgrd_campaign_iplist: $tmp/$site/iplist.txt
              upgrd_campaign_command_prefix: [nsenter, --net=/proc/${holders[$n]}/ns/net]
EOF
    n=$((n + 1))
  done
} > "$tmp/inventory.yml"

# From here on a failing command is a check that failed, not the end.
set +e
play() {  # play OUTPUT [OPTION...]: the exit code in $played
  local out=$1
  shift
  timeout 120 ansible-playbook "$playbook/site.yml" -e "@$tmp/vault.yml" \
    --vault-password-file "$tmp/vault_pass" \
    -e "upgrd_campaign_fetch_dir=$tmp/fleet_reports" "$@" > "$out" 2>&1
  played=$?
}
uploads() { cat "$tmp"/site_?/uploads.log 2> /dev/null | wc -l; }

status=0 passed=0 failed=0
check() {  # check WHAT OK
  if [ "$2" = 0 ]; then echo "passed: $1"; passed=$((passed + 1));
  else echo "FAILED: $1"; failed=$((failed + 1)); status=1; fi
}
recap() {  # recap OUTPUT: "SITE UNREACHABLE FAILED" a line, from the PLAY RECAP
  sed -n '/^PLAY RECAP/,$p' "$1" |
    sed -n 's/^\(site_.\) *: .* unreachable=\([0-9]*\) *failed=\([0-9]*\).*/\1 \2 \3/p'
}
# The reports of one run: each site's fetched report holds its three cards
# with the outcomes given (site_b's bad card login_failed), its page is the
# run's (a run that skips cards resumed); the fleet report holds them all,
# each with its site; the play printed the counts.
reports_are() {  # reports_are OUTPUT DEFAULT_OUTCOME
  /usr/bin/python3 - "$tmp/fleet_reports" "$1" "$2" "$bad_card" << 'EOF'
import collections, json, os, sys
root, output, default, bad = sys.argv[1:]
fleet = [json.loads(l) for l in open(root + "/fleet_report.jsonl")]
merged = []
for n, site in enumerate(["site_a", "site_b", "site_c"], 1):
    records = [json.loads(l) for l in open("%s/%s/report.jsonl" % (root, site))]
    want = {"127.0.%d.%d" % (n, i): default for i in (2, 3, 4)}
    if site == "site_b":
        want[bad] = "login_failed"
    got = {r["address"]: r["outcome"] for r in records}
    assert got == want, (site, got)
    # The run's own page, fetched beside its report; it shows the options
    # the role gave the tool, from the inventory.
    page = open("%s/%s/report.html" % (root, site)).read()
    assert page.lower().startswith("<!doctype html"), site
    assert records[0]["run_id"] in page, site
    assert ("-j 3 --waves 1,50% --max-failure-rate 50% --not-after 23:59 "
            in page), site
    assert "--password-from-env UPGRD_CARD_PASSWORD" in page, site
    assert ("--resume " in page) == (default == "skipped"), site
    merged += [dict(r, site=site) for r in records]
    counts = collections.Counter(r["outcome"] for r in records)
    line = "%s: %s" % (site, ", ".join("%s %d" % c for c in sorted(counts.items())))
    assert line in open(output).read(), line
key = lambda r: (r["site"], r["address"])
assert sorted(fleet, key=key) == sorted(merged, key=key), "fleet report"
EOF
}

# First run: every card upgraded but site_b's card with the wrong password.
play "$tmp/run1.txt"
check "first run: ansible-playbook says a host failed (2)" \
  "$([ "$played" = 2 ]; echo $?)"
check "first run: site_b failed, site_a and site_c did not" \
  "$([ "$(recap "$tmp/run1.txt")" = $'site_a 0 0\nsite_b 0 1\nsite_c 0 0' ]; echo $?)"
grep -q "fatal: \[site_b\]: FAILED.*$bad_card login_failed" "$tmp/run1.txt"
check "site_b failed on the card named from its report" $?
# The canary: the first batch runs the campaign at site_a alone.
sed -n '/TASK \[upgrd_campaign : Run the campaign\]/,/^TASK/p' "$tmp/run1.txt" |
  sed '/^TASK \[upgrd_campaign : Show/,$d' | grep -o '\[site_.\]' | sort -u |
  tr -d '\n' | grep -qx '\[site_a\]'
check "the canary site ran alone first" $?
reports_are "$tmp/run1.txt" upgraded
check "reports and pages fetched, reports merged with their site, counted" $?
first_uploads=$(uploads)
check "16 modules uploaded, none to the card refusing the password" \
  "$([ "$first_uploads" = 16 ] && ! grep -q "$bad_card" "$tmp"/site_b/uploads.log; echo $?)"

# Second run, at -vvv, which shows what Ansible runs on each site host: it
# resumes from each site's first report and loads nothing.
play "$tmp/run2.txt" -vvv
check "second run: site_b failed again on its card, the others did not" \
  "$([ "$played" = 2 ] &&
     [ "$(recap "$tmp/run2.txt")" = $'site_a 0 0\nsite_b 0 1\nsite_c 0 0' ]; echo $?)"
check "second run: no upload" "$([ "$(uploads)" = "$first_uploads" ]; echo $?)"
reports_are "$tmp/run2.txt" skipped
check "second run: every card skipped as done, the bad card failed again" $?
check "a run directory per run at each site" \
  "$([ "$(ls -d "$tmp"/site_?/work/runs/*/ | wc -l)" = 6 ]; echo $?)"

(cd "$playbook" && timeout 120 ansible-lint --offline -q site.yml roles/upgrd_campaign) \
  > "$tmp/lint.txt" 2>&1
check "ansible-lint clean on the role and the playbook" $?

# A module's arguments, the password among them, are in Ansible's temporary
# directory on the site host while it runs; an async job's watcher removes it
# within 5 s of the job's end.
for i in $(seq 100); do
  [ -z "$(ls "$ANSIBLE_REMOTE_TEMP")" ] && break
  sleep 0.1
done
# Only the simulated cards' own definitions hold the password in clear.
! grep -rlF --exclude=cards.json -- "$password" "$tmp" > "$tmp/leaks.txt"
check "the password on no command line, in no output or file" $?

if [ $status -ne 0 ]; then
  echo "== first run =="; tail -60 "$tmp/run1.txt"
  echo "== second run, its recap =="; sed -n '/^PLAY RECAP/,$p' "$tmp/run2.txt"
  echo "== files holding the password =="; cat "$tmp/leaks.txt"
  echo "== ansible-lint =="; cat "$tmp/lint.txt"
fi
echo "$passed passed, $failed failed"
exit $status
