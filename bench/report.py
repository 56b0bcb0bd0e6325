#!/usr/bin/python3
"""Prints the tables of scripts/bench.sh from the measurements it left in
SCRATCH (docs/PERFORMANCE.md has them as measured).

Usage: report.py SCRATCH UPLOAD_MIB UPLOAD_SMALL_MIB GET_MIB NAMES
"""
import glob, json, os, statistics, sys
scratch = sys.argv[1]
upload_mib, small_mib, get_mib, names = (int(v) for v in sys.argv[2:6])

def median(name, column=0):
    rows = [line.split() for line in open(os.path.join(scratch, name))]
    return statistics.median(float(row[column]) for row in rows)

def mib(kib):
    return "%.1f MiB" % (kib / 1024)

def amount(octets):
    if octets < 10240:
        return "%.0f B" % octets
    if octets < 10 << 20:
        return "%.0f KiB" % (octets / 1024)
    return "%.1f MiB" % (octets / (1 << 20))

print("\nFTP and ICMP, ours beside the standard tools (median, loopback)\n")
print("| measurement | ours | theirs | ratio | goal |")
print("|---|---|---|---|---|")
for label, name, size, tool in (
        ("upload %d MiB (Put vs curl -T)" % upload_mib, "put", upload_mib, "curl"),
        ("download %d MiB (Get vs curl -o)" % get_mib, "get", get_mib, "curl")):
    ours, theirs = median(name + "_ours"), median(name + "_theirs")
    print("| %s | %.0f MiB/s | %.0f MiB/s | %.2f | >= 0.95 |"
          % (label, size / ours, size / theirs, theirs / ours))
ours, theirs = median("ls_ours"), median("ls_theirs")
print("| list %d names (Ls vs curl -l) | %.1f ms | %.1f ms | %.2f | >= 0.95 |"
      % (names, ours * 1e3, theirs * 1e3, theirs / ours))
ours, theirs = median("probe_ours"), median("probe_theirs")
print("| probe, 20 echoes (probe_target vs ping -c 20 -i 0) | %.2f ms | %.2f ms"
      " | %.2f | >= 1.00 |" % (ours * 1e3, theirs * 1e3, theirs / ours))
print("| probe, 20 echoes, inside the process | %.2f ms | | | |"
      % median("probe_inside"))
small = median("put_small_ours", 1)
large = median("put_ours", 1)
print("| peak RSS, upload %d MiB | %s | %s | %.2f | |"
      % (small_mib, mib(small), mib(median("put_small_theirs", 1)),
         small / median("put_small_theirs", 1)))
print("| peak RSS, upload %d MiB | %s | %s | %.2f | |"
      % (upload_mib, mib(large), mib(median("put_theirs", 1)),
         large / median("put_theirs", 1)))
print("| peak RSS growth, %d MiB over %d MiB upload | %.3f | %.3f | | 1.00 (flat) |"
      % (upload_mib, small_mib, large / small,
         median("put_theirs", 1) / median("put_small_theirs", 1)))
print("\nratio: theirs' time over ours (above 1: ours is faster); "
      "for memory, ours over theirs.")

print("\nInput readers (Google Benchmark, median)\n")
print("| reader | entries | time | per entry | peak heap | heap per entry "
      "| process peak RSS |")
print("|---|---|---|---|---|---|---|")
rss = dict(line.split() for line in open(os.path.join(scratch, "parse_rss")))
for path in sorted(glob.glob(os.path.join(scratch, "parse_*.json")),
                   key=lambda p: (p.split("_")[-2], int(p.split("_")[-1][:-5]))):
    runs = json.load(open(path))["benchmarks"]
    run = ([r for r in runs if r.get("aggregate_name") == "median"] or runs)[0]
    bench, entries = run["run_name"].split("/")
    entries = int(entries)
    ms = run["real_time"] * {"ms": 1, "us": 1e-3, "ns": 1e-6, "s": 1e3}[run["time_unit"]]
    heap = run["peak_heap"]
    print("| %s | %d | %.2f ms | %.1f ns | %s | %.1f B | %s |"
          % ("read_target_list" if bench == "ReadTargetList" else "scan_listing",
             entries, ms, ms * 1e6 / entries, amount(heap), heap / entries,
             mib(int(rss[run["run_name"]]))))

def medians(name):
    """Rows of scripts/bench_cards.sh's output by card count, each with the
    median of a column over the repetitions."""
    rows = {}
    for line in open(os.path.join(scratch, name)):
        cols = line.split()
        rows.setdefault(int(cols[0]), []).append(cols)
    for n in sorted(rows):
        yield n, lambda i, n=n: statistics.median(float(c[i]) for c in rows[n])


print("\nWhole runs on the fast clock (scripts/bench_cards.sh, median)\n")
print("| cards | wall (s) | in waits (s) | per card beyond the waits | peak RSS |")
print("|---|---|---|---|---|")
for n, med in medians("cards"):
    print("| %d | %.2f | %.2f | %.1f ms | %s |"
          % (n, med(1), med(2), med(3), mib(med(4))))

print("\nCampaigns of all the cards at once, -j N, on the fast clock "
      "(scripts/bench_cards.sh --campaign, median)\n")
print("| cards | wall (s) | one card's waits (s) | per card beyond the waits "
      "| tool CPU per card | peak RSS |")
print("|---|---|---|---|---|---|")
for n, med in medians("campaigns"):
    print("| %d | %.2f | %.2f | %.1f ms | %.1f ms | %s |"
          % (n, med(1), med(2), med(3), med(6) * 1000 / n, mib(med(4))))

print("\nA resumed night whose report lists every card but one as done, until "
      "it reaches that card (scripts/bench_resume.sh, median)\n")
print("| cards done | wall (s) | tool CPU (s) | goal |")
print("|---|---|---|---|")
for n, med in medians("resumes"):
    print("| %d | %.2f | %.2f | under 1 s |" % (n, med(1), med(2)))
