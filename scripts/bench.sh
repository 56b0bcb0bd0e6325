#!/bin/bash
# The tool's performance beside standard tools, measured in one run on this
# machine's loopback, and printed as tables (docs/PERFORMANCE.md):
#  - FTP: CurlFtpLibrary's Put, Get and Ls (bench/ftp_bench.cc, one process
#    per transfer, as the tool makes them) against curl -T, curl -o and
#    curl -l, to the same vsftpd on 127.0.0.1, started here with its own
#    configuration and stopped by its pid;
#  - probe_target (20 echo replies, bench/probe_bench.cc) against
#    ping -c 20 -i 0;
#  - the iplist.txt and listing readers (bench/parse_bench.cc, Google
#    Benchmark) over 10k to 1M entries;
#  - whole runs of the fast-clock tool against 1, 10 and 100 simulated cards,
#    and campaigns of 1, 100 and 1,000 cards all at once
#    (scripts/bench_cards.sh);
#  - a resumed night whose report lists 1,000 and 10,000 cards as done,
#    until its first card (scripts/bench_resume.sh).
# Each figure is the median of a few repetitions, ours and theirs taking
# turns, so that a noisy machine affects both alike.
# Usage (as root: vsftpd and ping -i 0 need it):
#   bash scripts/bench.sh          the full run, a few minutes
#   bash scripts/bench.sh --smoke  tiny sizes, one repetition, seconds
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=0
case "${1:-}" in
  --smoke) smoke=1 ;;
  "") ;;
  *) echo "usage: $0 [--smoke]" >&2; exit 2 ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/bench.sh: run as root (vsftpd, ping -i 0)" >&2
  exit 1
fi

if [ $smoke -eq 1 ]; then
  reps=1; probe_reps=1; parse_reps=1; card_reps=1
  upload_mib=2; upload_small_mib=1; get_mib=1; names=1000
  parse_filter='/10000$'; parse_min_time=0.01
  card_counts=(1)
  campaign_counts=(1 10)
  resume_counts=(1000)
else
  reps=11; probe_reps=15; parse_reps=5; card_reps=3
  upload_mib=64; upload_small_mib=16; get_mib=16; names=100000
  parse_filter='.'; parse_min_time=0.5
  card_counts=(1 10 100)
  campaign_counts=(1 100 1000)
  resume_counts=(1000 10000)
fi

bash scripts/install_deps.sh tests
# A build of its own: optimised, without sanitizers.
build=build/bench
cmake -S . -B "$build" -DUPGRD_BENCH=ON -DUPGRD_SANITIZE=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j "$(nproc)" --target upgrd_ftp_bench \
  upgrd_probe_bench upgrd_parse_bench upgrd_util_fast_clock > /dev/null
build=$(realpath "$build")

scratch=$(mktemp -d /tmp/upgrd_bench.XXXXXX)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2> /dev/null || true
    wait "$server_pid" 2> /dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# Runs the command once; appends "seconds peak-RSS-KiB" to $scratch/$1.
measure() {
  local name=$1
  shift
  local start=$EPOCHREALTIME
  /usr/bin/time -f %M -o "$scratch/rss" "$@" > /dev/null
  local end=$EPOCHREALTIME
  echo "$(echo "$end - $start" | bc -l) $(tail -n 1 "$scratch/rss")" \
    >> "$scratch/$name"
}

# The same without /usr/bin/time, for commands of a few milliseconds.
measure_wall() {
  local name=$1
  shift
  local start=$EPOCHREALTIME
  "$@" > /dev/null
  local end=$EPOCHREALTIME
  echo "$(echo "$end - $start" | bc -l)" >> "$scratch/$name"
}

# --- the FTP server: vsftpd on 127.0.0.1, anonymous, in a scratch root ----
root=$scratch/ftp
mkdir -p "$root/up" "$root/files" "$scratch/empty" "$scratch/out"
# Anonymous sessions are chrooted to a root they must not be able to write;
# uploads go to up/, which belongs to the anonymous user. The names to list
# are in the root, the directory a card's listing shows.
chmod 755 "$root" "$root/files"
chown ftp:ftp "$root/up"
head -c $((upload_mib << 20)) /dev/urandom > "$scratch/upload.bin"
head -c $((upload_small_mib << 20)) /dev/urandom > "$scratch/upload_small.bin"
head -c $((get_mib << 20)) /dev/urandom > "$root/files/get.bin"
chmod 644 "$root/files/get.bin"
/usr/bin/python3 - "$root" "$names" <<'PYTHON'
import os, sys
directory, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    open(os.path.join(directory, "event_%06d.txt" % i), "w").close()
PYTHON
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket();
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$scratch/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
no_anon_password=YES
local_enable=NO
write_enable=YES
anon_upload_enable=YES
anon_other_write_enable=YES
anon_umask=022
anon_root=$root
ftp_username=ftp
pasv_enable=YES
pasv_address=127.0.0.1
connect_from_port_20=NO
secure_chroot_dir=$scratch/empty
seccomp_sandbox=NO
xferlog_enable=NO
syslog_enable=NO
dirmessage_enable=NO
max_clients=10
idle_session_timeout=60
data_connection_timeout=60
EOF
# Bounded in time as well; stopped by its pid on the way out.
timeout 1800 /usr/sbin/vsftpd "$scratch/vsftpd.conf" > "$scratch/vsftpd.log" 2>&1 &
server_pid=$!
url=ftp://127.0.0.1:$port
for i in $(seq 100); do
  curl -s --max-time 2 --user anonymous:bench -o /dev/null "$url/files/" && break
  [ "$i" -eq 100 ] && { echo "vsftpd did not come up:" >&2; cat "$scratch/vsftpd.log" >&2; exit 1; }
  sleep 0.05
done

# upgrd_ftp_bench OP HOST PORT USER PASSWORD LOCAL REMOTE
ours=("$build/testing/upgrd_ftp_bench")
server=(127.0.0.1 "$port" anonymous bench)
theirs=(curl -sS --max-time 120 --user anonymous:bench)

# One measurement of each side; $rep names the files of this repetition.
put_ours() { measure put_ours "${ours[@]}" put "${server[@]}" "$scratch/upload.bin" "up/ours$rep.bin"; }
put_theirs() { measure put_theirs "${theirs[@]}" -T "$scratch/upload.bin" "$url/up/curl$rep.bin"; }
put_small_ours() { measure put_small_ours "${ours[@]}" put "${server[@]}" "$scratch/upload_small.bin" "up/ours_small$rep.bin"; }
put_small_theirs() { measure put_small_theirs "${theirs[@]}" -T "$scratch/upload_small.bin" "$url/up/curl_small$rep.bin"; }
get_ours() { measure get_ours "${ours[@]}" get "${server[@]}" "$scratch/out/get_ours.bin" files/get.bin; }
get_theirs() { measure get_theirs "${theirs[@]}" -o "$scratch/out/get_curl.bin" "$url/files/get.bin"; }
ls_ours() { measure ls_ours "${ours[@]}" ls "${server[@]}" "$scratch/out/ls_ours.txt" ""; }
ls_theirs() { measure ls_theirs "${theirs[@]}" -l -o "$scratch/out/ls_curl.txt" "$url/"; }
# Ours and theirs take turns at going first, so that neither always finds
# the server and the page cache as the other left them.
turn() {
  if [ $((rep % 2)) -eq 1 ]; then "$1"; "$2"; else "$2"; "$1"; fi
}

echo "FTP transfers ($reps repetitions) ..." >&2
# A first round unmeasured: the files and the directory in the page cache.
"${theirs[@]}" -o /dev/null "$url/files/get.bin"
"${theirs[@]}" -l -o /dev/null "$url/"
for rep in $(seq "$reps"); do
  turn put_ours put_theirs
  cmp -s "$scratch/upload.bin" "$root/up/ours$rep.bin" ||
    { echo "upload arrived damaged" >&2; exit 1; }
  turn put_small_ours put_small_theirs
  rm -f "$root"/up/* "$scratch"/out/*
  # Into new files each time: replacing a file just written costs a flush
  # of its data on ext4, which is not the transfer.
  turn get_ours get_theirs
  cmp -s "$root/files/get.bin" "$scratch/out/get_ours.bin" ||
    { echo "download arrived damaged" >&2; exit 1; }
  turn ls_ours ls_theirs
  # The names, up/ and files/.
  [ "$(wc -l < "$scratch/out/ls_ours.txt")" -eq $((names + 2)) ] ||
    { echo "listing incomplete" >&2; exit 1; }
done
kill "$server_pid"
wait "$server_pid" 2> /dev/null || true
server_pid=""

echo "probe ($probe_reps repetitions) ..." >&2
probe_ours() { measure_wall probe_ours "$build/testing/upgrd_probe_bench" 127.0.0.1; }
probe_theirs() { measure_wall probe_theirs ping -c 20 -i 0 -q 127.0.0.1; }
for rep in $(seq "$probe_reps"); do
  turn probe_ours probe_theirs
done
# The probe alone, without the start of a process.
"$build/testing/upgrd_probe_bench" 127.0.0.1 $((probe_reps * 10)) > "$scratch/probe_inside"

echo "input readers ..." >&2
names_to_run=$("$build/testing/upgrd_parse_bench" --benchmark_list_tests |
  grep -E -- "$parse_filter" || true)
for bench in $names_to_run; do
  /usr/bin/time -f %M -o "$scratch/rss" "$build/testing/upgrd_parse_bench" \
    --benchmark_filter="^$bench\$" --benchmark_repetitions="$parse_reps" \
    --benchmark_min_time="$parse_min_time" \
    --benchmark_format=json --benchmark_out="$scratch/parse_$(echo "$bench" | tr / _).json" \
    > /dev/null 2> "$scratch/parse.log"
  echo "$bench $(tail -n 1 "$scratch/rss")" >> "$scratch/parse_rss"
done

echo "whole runs against simulated cards ..." >&2
for rep in $(seq "$card_reps"); do
  UPGRD_BUILD_DIR=$build bash scripts/bench_cards.sh "${card_counts[@]}" |
    tail -n +2 >> "$scratch/cards"
  UPGRD_BUILD_DIR=$build bash scripts/bench_cards.sh --campaign \
    "${campaign_counts[@]}" | tail -n +2 >> "$scratch/campaigns"
done

echo "resumed nights ..." >&2
for rep in $(seq "$card_reps"); do
  UPGRD_BUILD_DIR=$build bash scripts/bench_resume.sh "${resume_counts[@]}" |
    tail -n +2 >> "$scratch/resumes"
done

/usr/bin/python3 bench/report.py "$scratch" "$upload_mib" "$upload_small_mib" \
  "$get_mib" "$names"
