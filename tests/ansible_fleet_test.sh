#!/bin/bash
# The Ansible role and sample playbook of deploy/ansible against six sites on
# this machine, each a network namespace of its own with two simulated cards
# and its own working directory, reached through Ansible's local connection,
# and a seventh that does not answer. One site (not the canary) has a card
# that refuses the fleet's password, which comes from an Ansible Vault file.
# Three runs: check mode; the rollout at two forks, its controller
# interrupted while the sites' uploads are held; the rollout again, which
# resumes from what the sites did meanwhile and changes nothing. Then
# ansible-lint on the role and the playbook.
# Usage (as root): tests/ansible_fleet_test.sh FAST_CLOCK_TOOL
set -euo pipefail
tool=$(realpath "$1")
source=$(cd "$(dirname "$0")/.." && pwd)
playbook=$source/deploy/ansible
tmp=$(mktemp -d /tmp/upgrd_fleet.XXXXXX)
holders=() controller=
cleanup() {
  local pid
  [ -n "$controller" ] && kill -KILL "$controller" 2> /dev/null
  for pid in "${holders[@]}"; do
    kill "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
  done
  # The sites' campaigns end by themselves once the holds are released.
  touch "$tmp/released" 2> /dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Distinctive, so that a leak is found by a plain grep; at most 10 characters.
password=Vt7-fleetQ
sites=(site_a site_b site_c site_d site_e site_f)
held=(site_b site_c site_d site_e site_f)  # all but the canary
bad_card=127.0.2.3  # site_b's card with a password of its own

# Each site: its cards on 127.0.N.x (N = 1 to 6), an iplist.txt without
# passwords, and a shell in a network namespace of its own that runs the
# simulated cards and keeps the namespace while the test uses it. Their
# uploads wait until $tmp/released exists (30 s at most), but the canary's.
source "$source/scripts/sim_cards.sh"
n=0
for site in "${sites[@]}"; do
  n=$((n + 1))
  dir=$tmp/$site
  sim_setup "$dir" 2 65536 65536 0.005
  /usr/bin/python3 - "$dir" "$n" "$password" "$bad_card" "$tmp/released" << 'EOF'
import json, sys
d, n, password, bad, released = sys.argv[1:]
cards = json.load(open(d + "/cards.json"))
for card in cards:
    card["ip"] = card["ip"].replace("127.0.0.", "127.0.%s." % n)
    card["password"] = "not-it" if card["ip"] == bad else password
    if n != "1":
        card["hold_uploads"] = released
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
    sim_start 300 --upload-log "$2/uploads.log"
    wait "$sim_pid"' holder "$source" "$dir" &
  holders+=($!)
done
for i in $(seq 150); do
  ready=0
  for site in "${sites[@]}"; do [ -f "$tmp/$site/ready" ] && ready=$((ready + 1)); done
  [ $ready = ${#sites[@]} ] && break
  sleep 0.1
done
for site in "${sites[@]}"; do
  [ -f "$tmp/$site/ready" ] || { echo "the cards of $site did not start" >&2; exit 1; }
done
mkdir -p "$tmp/release"
cp "$tmp/site_a"/{config.txt,kvn_hw02_zel_211.bin,kvn_hw02_app_211.bin,kvn_hw02_zel_202.bin} \
  "$tmp/release/"

# A held upload waits for the release: the fast clock's FTP time-outs of a
# few seconds would fail it first.
export UPGRD_SHIPPED_FTP_TIMEOUTS=1
# Ansible reads and writes nothing outside the temporary directory.
export HOME=$tmp/home TMPDIR=$tmp/tmp
mkdir -p "$HOME" "$TMPDIR"
export ANSIBLE_CONFIG=$tmp/ansible.cfg ANSIBLE_HOME=$tmp/ansible
export ANSIBLE_LOCAL_TEMP=$tmp/ansible/local ANSIBLE_REMOTE_TEMP=$tmp/ansible/remote
export ANSIBLE_ASYNC_DIR=$tmp/ansible/async ANSIBLE_NOCOLOR=1
export ANSIBLE_HOST_KEY_CHECKING=False ANSIBLE_RETRY_FILES_ENABLED=False
printf '[defaults]\ninventory = %s/inventory.yml\n' "$tmp" > "$ANSIBLE_CONFIG"

echo "upgrd_campaign_password: $password" > "$tmp/vault.yml"
head -c 24 /dev/urandom | base64 > "$tmp/vault_pass"
ansible-vault encrypt --vault-password-file "$tmp/vault_pass" "$tmp/vault.yml" \
  > /dev/null

# The window's end, 23:59, is dated from the moment the fast clock shows.
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
        upgrd_campaign_async: 600
        upgrd_campaign_stop_margin: 30
        upgrd_campaign_poll: 1
      children:
        canary:
          hosts:
EOF
  n=0
  for site in "${sites[@]}"; do
    [ $n = 1 ] && echo "        others:" && echo "          hosts:"
    cat << EOF
            $site:
              upgrd_campaign_workdir: $tmp/$site/work
              upgrd_campaign_iplist: $tmp/$site/iplist.txt
              upgrd_campaign_command_prefix: [nsenter, --net=/proc/${holders[$n]}/ns/net]
EOF
    n=$((n + 1))
  done
  # Nothing listens on port 9 of the loopback.
  cat << EOF
            site_gone:
              ansible_connection: ssh
              ansible_host: 127.0.0.1
              ansible_port: 9
EOF
} > "$tmp/inventory.yml"

# From here on a failing command is a check that failed, not the end.
set +e
play_args=(-e "@$tmp/vault.yml" --vault-password-file "$tmp/vault_pass"
           -e "upgrd_campaign_fetch_dir=$tmp/fleet_reports"
           -e "upgrd_campaign_rollout_start=$(date -d '2026-12-07 09:30' +%s)")
play() {  # play OUTPUT [OPTION...]: the exit code in $played
  local out=$1 start=$SECONDS
  shift
  timeout 600 ansible-playbook "$playbook/site.yml" "${play_args[@]}" "$@" \
    > "$out" 2>&1
  played=$?
  echo "($out took $((SECONDS - start)) s)"
}
uploads() { cat "$tmp"/site_?/uploads.log 2> /dev/null | wc -l; }

status=0 passed=0 failed=0
check() {  # check WHAT OK
  if [ "$2" = 0 ]; then echo "passed: $1"; passed=$((passed + 1));
  else echo "FAILED: $1"; failed=$((failed + 1)); status=1; fi
}
# The recap of a run: site_b ignored its bad card's failure, site_gone was
# not reached, nothing failed; each site's changed count as CHANGED says
# ("0", "+" for some, "any"), site_gone's none.
recap_is() {  # recap_is OUTPUT CHANGED [SITE_LETTERS]
  /usr/bin/python3 - "$1" "$2" "${3:-abcdef}" << 'EOF'
import re, sys
output, changed, hosts = sys.argv[1:]
recap = open(output).read().split("PLAY RECAP")[-1]
got = {m[0]: dict(re.findall(r"(\w+)=(\d+)", m[1]))
       for m in re.findall(r"^(\w+) +: (.*)$", recap, re.M)}
want_hosts = ["site_gone"] + ["site_" + c for c in hosts]
assert sorted(got) == sorted(want_hosts), sorted(got)
for host, counts in got.items():
    counts = {k: int(v) for k, v in counts.items()}
    assert counts["failed"] == 0, (host, counts)
    assert counts["unreachable"] == (host == "site_gone"), (host, counts)
    assert counts["ignored"] == (host in ("site_b", "site_gone")), (host, counts)
    if changed == "any":
        pass
    elif host != "site_gone":
        assert (counts["changed"] > 0 if changed == "+" else
                counts["changed"] == int(changed)), (host, counts)
    else:
        assert counts["changed"] == 0, (host, counts)
EOF
}
# The reports of one run: each site's fetched report holds its two cards
# with the outcome given (site_b's bad card login_failed), its page is the
# run's, with the options from the inventory (resumed when cards were
# skipped); the fleet report holds them all, each with its site; the play
# printed the counts, and that site_gone has no report.
reports_are() {  # reports_are OUTPUT KIND DEFAULT_OUTCOME SITES
  /usr/bin/python3 - "$tmp/fleet_reports" "$1" "$2" "$3" "$bad_card" "$4" << 'EOF'
import collections, json, os, sys
root, output, kind, default, bad, sites = sys.argv[1:]
fleet = [json.loads(l) for l in open("%s/fleet_%s.jsonl" % (root, kind))]
said = open(output).read()
merged = []
for n in range(1, 7):
    site = "site_" + "abcdef"[n - 1]
    if site not in sites.split(","):
        continue
    records = [json.loads(l) for l in open("%s/%s/%s.jsonl" % (root, site, kind))]
    want = {"127.0.%d.%d" % (n, i): default for i in (2, 3)}
    if site == "site_b":
        want[bad] = "login_failed"
    got = {r["address"]: r["outcome"] for r in records}
    assert got == want, (site, got)
    page = open("%s/%s/%s.html" % (root, site, kind)).read()
    assert page.lower().startswith("<!doctype html"), site
    assert records[0]["run_id"] in page, site
    options = ("-j 3 --check " if kind == "check" else
               "-j 3 --waves 1,50% --max-failure-rate 50% "
               "--not-after 2026-12-07T23:59 ")
    assert options in page, (site, options)
    assert "--password-file " in page, site
    assert ("--resume " in page) == (default == "skipped"), site
    merged += [dict(r, site=site) for r in records]
    counts = collections.Counter(r["outcome"] for r in records)
    line = "%s: %s" % (site, ", ".join("%s %d" % c for c in sorted(counts.items())))
    assert line in said, line
assert "site_gone: no report, unreachable" in said, "site_gone"
key = lambda r: (r["site"], r["address"])
assert sorted(fleet, key=key) == sorted(merged, key=key), "fleet report"
EOF
}
# The run directories of a site, a line each, those of dry runs left out.
run_dirs() {
  local d
  for d in "$tmp/$1"/work/runs/*/; do
    [ -d "$d" ] && [ ! -e "$d/check.jsonl" ] && echo "$d"
  done
}

# Check mode, at the canary, site_b and site_gone: the dry run at each site
# says what would be upgraded.
play "$tmp/run0.txt" --check --limit site_a,site_b,site_gone
check "check mode: every site's dry run, none failed, site_gone unreachable (4)" \
  "$([ "$played" = 4 ] && recap_is "$tmp/run0.txt" + ab; echo $?)"
reports_are "$tmp/run0.txt" check would_upgrade site_a,site_b
check "check mode: dry-run reports fetched and merged: would_upgrade" $?
check "check mode: no upload" "$([ "$(uploads)" = 0 ]; echo $?)"

# The rollout at two forks, interrupted twice while the sites' uploads are
# held: every site but the canary has started its campaign by then.
env --default-signal=INT ansible-playbook "$playbook/site.yml" "${play_args[@]}" -f 2 \
  > "$tmp/run1.txt" 2>&1 &
controller=$!
declare -A started=()
first=
for i in $(seq 600); do
  for site in "${held[@]}"; do
    [ -n "${started[$site]:-}" ] && continue
    for d in $(run_dirs $site); do
      ls "$d" | grep -q '_upgrade\.txt$' && started[$site]=$SECONDS
    done
  done
  [ -z "$first" ] && [ ${#started[@]} -gt 0 ] && first=$SECONDS
  [ ${#started[@]} = ${#held[@]} ] && break
  sleep 0.2
done
last=$(printf '%s\n' "${started[@]}" | sort -n | tail -1)
check "five sites started at two forks together" \
  "$([ ${#started[@]} = 5 ] && [ $((last - first)) -le 60 ]; echo $?)"
kill -INT $controller; sleep 1
kill -INT $controller 2> /dev/null
for i in $(seq 100); do kill -0 $controller 2> /dev/null || break; sleep 0.1; done
kill -KILL $controller 2> /dev/null
wait $controller
controller=
sed -n '/TASK \[upgrd_campaign : Start the campaign\]/,/^TASK/p' "$tmp/run1.txt" |
  sed '/^TASK \[upgrd_campaign : Wait/,$d' | grep -o '\[site_.\]' | sort -u |
  tr -d '\n' | grep -qx '\[site_a\]'
check "the canary site ran alone first" $?

# The campaigns run on. No file anywhere under the home, Ansible's async
# and temporary directories holds the password; a file that does holds it
# readable by its owner alone (the sims' card definitions aside).
grep -rlF -- "$password" "$HOME" "$ANSIBLE_ASYNC_DIR" "$ANSIBLE_LOCAL_TEMP" \
  "$ANSIBLE_REMOTE_TEMP" "$TMPDIR" > "$tmp/leaks.txt"
check "interrupted: the password in no file of the home, async or temporary directories" \
  "$([ ! -s "$tmp/leaks.txt" ]; echo $?)"
grep -rlF --exclude=cards.json -- "$password" "$tmp" > "$tmp/holding.txt"
readable=$(xargs -r stat -c '%a %n' < "$tmp/holding.txt" | grep -v '^[4-7]00 ')
echo "$readable" >> "$tmp/leaks.txt"
check "interrupted: the password files of the running sites, mode 0600, none readable by others" \
  "$([ -z "$readable" ] && [ "$(grep -c '/password$' "$tmp/holding.txt")" = 5 ]; echo $?)"

touch "$tmp/released"
for site in "${held[@]}"; do
  for i in $(seq 1200); do
    d=$(run_dirs $site | tail -1)
    [ "$(cat "$d/report.jsonl" 2> /dev/null | wc -l)" = 2 ] &&
      [ ! -e "$d/report.jsonl.part" ] && break
    sleep 0.1
  done
done
first_uploads=$(uploads)
check "22 modules uploaded by the interrupted rollout, none to the card refusing the password" \
  "$([ "$first_uploads" = 22 ] && ! grep -q "$bad_card" "$tmp"/site_b/uploads.log; echo $?)"

# The rollout again, at -vvv, which shows what Ansible runs on each site
# host: it resumes from what every site did after the interruption, and
# changes nothing.
play "$tmp/run2.txt" -f 7 -vvv
check "second rollout: no change, site_b's bad card ignored, site_gone unreachable, none failed" \
  "$([ "$played" = 4 ] && recap_is "$tmp/run2.txt" 0; echo $?)"
grep -A 5 "^fatal: \[site_b\]: FAILED" "$tmp/run2.txt" | grep -q "$bad_card login_failed"
check "site_b's card named from its report" $?
reports_are "$tmp/run2.txt" report skipped site_a,site_b,site_c,site_d,site_e,site_f
check "second rollout: every card skipped as done but the bad one; reports merged" $?
check "second rollout: no upload" "$([ "$(uploads)" = "$first_uploads" ]; echo $?)"
check "the interrupted run's password files removed" \
  "$([ -z "$(find "$tmp"/site_?/work -name password)" ]; echo $?)"

(cd "$playbook" && timeout 600 ansible-lint --offline -q site.yml roles/upgrd_campaign) \
  > "$tmp/lint.txt" 2>&1
check "ansible-lint clean on the role and the playbook" $?

# Only the simulated cards' own definitions hold the password in clear.
for i in $(seq 100); do
  [ -z "$(ls "$ANSIBLE_REMOTE_TEMP")" ] && break
  sleep 0.1
done
grep -rlF --exclude=cards.json -- "$password" "$tmp" >> "$tmp/leaks.txt"
check "the password on no command line, in no output or file" \
  "$([ -z "$(grep -v '^$' "$tmp/leaks.txt")" ]; echo $?)"

if [ $status -ne 0 ]; then
  for run in run0 run1 run2; do
    echo "== $run =="; grep -E '^(fatal|PLAY|TASK \[Show)|site_.: ' "$tmp/$run.txt" | tail -40
  done
  echo "== files holding the password =="; cat "$tmp/leaks.txt"
  echo "== ansible-lint =="; cat "$tmp/lint.txt"
fi
echo "$passed passed, $failed failed"
exit $status
