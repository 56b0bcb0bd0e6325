#!/usr/bin/python3
"""Merges the sites' campaign reports into one fleet report.

Usage: merge_reports.py DIR KIND < SITES

SITES (JSON on standard input) lists the sites of the rollout, each as
{"site", "state", "said", "fetched"}: how its campaign ended (ended, failed,
lost, unreachable, never_started), in words, and whether its report was
fetched this time. DIR holds a directory per site with the KIND.jsonl
fetched from it (KIND: report, or check for a dry run). DIR/fleet_KIND.jsonl
gets every record of those reports, each with a "site" field first;
DIR/fleet_KIND.txt and standard output the counts by site and outcome, and
each site without a report with its state; such a site's KIND files of an
earlier run are removed from DIR (the site keeps its own).
"""
import collections
import json
import os
import sys


def site_records(path, site):
    """The records of one report; a line cut short (a killed run) or not a
    record is left out, with a warning."""
    records = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line:
                continue
            try:
                record = json.loads(line)
            except ValueError:
                record = None
            if not isinstance(record, dict):
                print("%s: line %d of %s is not a record; left out"
                      % (site, number, path), file=sys.stderr)
                continue
            records.append(dict([("site", site)] + [
                (k, v) for k, v in record.items() if k != "site"]))
    return records


def counted(counts):
    return ", ".join("%s %d" % item for item in sorted(counts.items()))


def write_whole(path, text):
    """Whole or not at all: a reader never sees half a fleet report."""
    temp = "%s.%d.tmp" % (path, os.getpid())
    with open(temp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(temp, path)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2])
    root, kind = sys.argv[1], sys.argv[2]
    sites = json.load(sys.stdin)
    os.makedirs(root, exist_ok=True)  # no site has fetched a report yet
    merged, lines = [], []
    fleet = collections.Counter()
    states = collections.Counter()
    for entry in sorted(sites, key=lambda s: s["site"]):
        site, state = entry["site"], entry["state"]
        states[state] += 1
        report = os.path.join(root, site, kind + ".jsonl")
        said = " (%s: %s)" % (state, entry["said"]) if state != "ended" else ""
        if not entry.get("fetched") or not os.path.isfile(report):
            # An earlier run's report here would pass for this run's; the
            # site keeps its own.
            for stale in (report, os.path.join(root, site, kind + ".html")):
                if os.path.isfile(stale):
                    os.remove(stale)
            lines.append("%s: no report, %s: %s"
                         % (site, state.replace("_", " "), entry["said"]))
            continue
        records = site_records(report, site)
        counts = collections.Counter(r.get("outcome", "?") for r in records)
        fleet.update(counts)
        merged.extend(records)
        lines.append("%s: %s%s" % (site, counted(counts) or "no cards", said))
    lines.append("fleet: %s; sites: %s" % (counted(fleet) or "no cards",
                                           counted(states) or "none"))
    write_whole(os.path.join(root, "fleet_%s.jsonl" % kind), "".join(
        json.dumps(record, ensure_ascii=False) + "\n" for record in merged))
    write_whole(os.path.join(root, "fleet_%s.txt" % kind),
                "\n".join(lines) + "\n")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
