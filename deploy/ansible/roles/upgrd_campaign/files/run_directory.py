#!/usr/bin/python3
"""Makes the directory of a site's new run, on the site host.

Usage: run_directory.py WORKDIR RESUME INPUT...

In WORKDIR/runs, which holds a directory per run:
- removes the password files that runs whose controller stopped before
  their end left behind;
- makes the new run's directory, runs/<UTC time>.<random>/ (mode 0700);
- links each INPUT, a name in WORKDIR, into it: a later copy (a new file)
  leaves this run's inputs alone;
- when RESUME is "true", writes resume.jsonl there: each card's latest
  record over the earlier runs' report.jsonl, the reports taken in the order
  their runs ended, as their records tell (a file's time changes with a
  copy), so that a run that did only some cards keeps the others' history.
  A line cut short by a killed run is left out. Not written without records.
Prints {"path", "leftovers", "reports", "cards"} as JSON.
"""
import datetime
import glob
import json
import os
import sys
import tempfile

EARLIEST = datetime.datetime.min.replace(tzinfo=datetime.timezone.utc)


def when(text):
    """The instant of an ISO 8601 time with its offset, or None."""
    try:
        moment = datetime.datetime.fromisoformat(text)
    except (TypeError, ValueError):
        return None
    return moment if moment.tzinfo else None


def records(path):
    """The records of one report, in their order."""
    found = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            try:
                record = json.loads(line)
            except ValueError:
                continue
            if (isinstance(record, dict)
                    and isinstance(record.get("address"), str)
                    and isinstance(record.get("outcome"), str)):
                found.append(record)
    return found


def latest_records(runs):
    """Each card's latest record over the reports in `runs`, and how many
    reports there were."""
    reports = []
    for path in glob.glob(os.path.join(glob.escape(runs), "*", "report.jsonl")):
        found = records(path)
        ends = [e for e in (when(r.get("end")) for r in found) if e]
        reports.append((max(ends, default=EARLIEST), path, found))
    reports.sort(key=lambda report: (report[0], report[1]))
    latest = {}
    for _, _, found in reports:
        for record in found:
            latest[record["address"]] = record
    return latest, len(reports)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__.strip().splitlines()[2])
    work, resume, inputs = sys.argv[1], sys.argv[2] == "true", sys.argv[3:]
    runs = os.path.join(work, "runs")
    leftovers = glob.glob(os.path.join(glob.escape(runs), "*", "password"))
    for path in leftovers:
        os.remove(path)
    latest, reports = latest_records(runs) if resume else ({}, 0)
    stamp = datetime.datetime.now(datetime.timezone.utc)
    path = tempfile.mkdtemp(prefix=stamp.strftime("%Y%m%dT%H%M%SZ."), dir=runs)
    for name in inputs:
        os.link(os.path.join(work, name), os.path.join(path, name))
    if latest:
        with open(os.path.join(path, "resume.jsonl"), "w",
                  encoding="utf-8") as f:
            for record in latest.values():
                f.write(json.dumps(record, ensure_ascii=False) + "\n")
    print(json.dumps({"path": path, "leftovers": len(leftovers),
                      "reports": reports, "cards": len(latest)}))


if __name__ == "__main__":
    main()
