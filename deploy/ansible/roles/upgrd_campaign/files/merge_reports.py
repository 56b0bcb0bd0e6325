#!/usr/bin/python3
"""Merges the sites' campaign reports into one fleet report.

Usage: merge_reports.py DIR OUT

DIR holds a directory per site, named after it, with the report.jsonl that
the site's run wrote. OUT gets every record of every site, in JSON Lines,
each with a "site" field first. The counts by site and outcome go to
standard output; a site without a report is said to have none.
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


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2])
    root, out = sys.argv[1], sys.argv[2]
    os.makedirs(root, exist_ok=True)  # no site has fetched a report yet
    merged, lines = [], []
    fleet = collections.Counter()
    for site in sorted(os.listdir(root)):
        if not os.path.isdir(os.path.join(root, site)):
            continue
        report = os.path.join(root, site, "report.jsonl")
        if not os.path.isfile(report):
            lines.append("%s: no report" % site)
            continue
        records = site_records(report, site)
        counts = collections.Counter(r.get("outcome", "?") for r in records)
        fleet.update(counts)
        merged.extend(records)
        lines.append("%s: %s" % (site, ", ".join(
            "%s %d" % item for item in sorted(counts.items())) or "no cards"))
    lines.append("fleet: %s" % (", ".join(
        "%s %d" % item for item in sorted(fleet.items())) or "no cards"))
    # Whole or not at all: a reader never sees half a fleet report.
    temp = out + ".tmp"
    with open(temp, "w", encoding="utf-8") as f:
        for record in merged:
            f.write(json.dumps(record, ensure_ascii=False) + "\n")
    os.replace(temp, out)
    print("\n".join(lines))


if __name__ == "__main__":
    main()
