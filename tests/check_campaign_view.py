#!/usr/bin/python3
"""Checks a campaign's page and metrics against its report, with the real
parts that will read them: Debian's chromium in headless mode loads the page
(it must log nothing: no error, nothing blocked, no script), html5lib parses
it strictly, promtool checks the metrics; the page's timeline rows and
their tries, its counts and its rows of cards not started, and the metrics'
counts, must equal the report's.

Usage: check_campaign_view.py REPORT.jsonl PAGE.html METRICS.prom
Prints what is wrong and exits 1; exits 0 when all holds.
"""
import collections
import json
import os
import re
import subprocess
import sys
import tempfile

import html5lib

SVG = "{http://www.w3.org/2000/svg}"
XHTML = "{http://www.w3.org/1999/xhtml}"


def main():
    report, page, metrics = sys.argv[1:4]
    problems = []
    records = [json.loads(line) for line in open(report) if line.strip()]
    counts = collections.Counter(r["outcome"] for r in records)
    started = [r for r in records if r["start"]]
    not_started = collections.Counter(r["reason"] for r in records
                                      if r["outcome"] == "not_started")

    try:
        html5lib.HTMLParser(strict=True).parse(open(page, "rb"))
    except html5lib.html5parser.ParseError as error:
        problems.append("not valid HTML5: %s" % error)

    # The browser gets a profile of its own, and no network to reach.
    with tempfile.TemporaryDirectory() as profile:
        browser = subprocess.run(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu",
             "--enable-logging=stderr", "--v=0",
             "--user-data-dir=" + profile, "--dump-dom",
             "file://" + os.path.abspath(page)],
            capture_output=True, text=True, timeout=90,
            env=dict(os.environ, HOME=profile))
    logged = [line for line in browser.stderr.splitlines()
              if ":CONSOLE" in line]
    if browser.returncode != 0 or logged or not browser.stdout:
        problems.append("chromium: exit %d, %s" % (browser.returncode,
                                                   logged or "no page"))
    dom = html5lib.parse(browser.stdout)
    rows = [e for e in dom.iter(SVG + "g")
            if "card-bar" in e.get("class", "").split()]
    if len(rows) != len(started):
        problems.append("%d timeline rows for %d cards that started"
                        % (len(rows), len(started)))
    # A bar for each try.
    tries = {e.get("data-address"): len(e.findall(SVG + "rect"))
             for e in rows}
    wanted = {r["address"]: r["tries"] for r in started}
    if tries != wanted:
        problems.append("tries on the timeline %s, report %s"
                        % (tries, wanted))
    table = [t for t in dom.iter(XHTML + "table")
             if "not-started" in t.get("class", "").split()]
    grouped = collections.Counter()
    for t in table:
        for row in t.iter(XHTML + "tr"):
            if row.get("data-count"):
                reason = "".join(row.find(XHTML + "td").itertext())
                grouped[reason] += int(row.get("data-count"))
    if len(table) > 1 or grouped != not_started:
        problems.append("cards not started on the page %s, report %s"
                        % (dict(grouped), dict(not_started)))
    shown = {e.get("data-outcome"): int(e.get("data-count"))
             for e in dom.iter(XHTML + "li") if e.get("data-outcome")}
    if shown != dict(counts):
        problems.append("page counts %s, report %s" % (shown, dict(counts)))
    if any(True for _ in dom.iter(XHTML + "script")):
        problems.append("the page holds a script")
    text = "".join(dom.itertext())
    for r in records:
        if r["zel_before"] and r["zel_before"] not in text:
            problems.append("%s not shown as text" % r["zel_before"])

    with open(metrics) as f:
        check = subprocess.run(["promtool", "check", "metrics"], stdin=f,
                               capture_output=True, text=True, timeout=60)
    if check.returncode != 0:
        problems.append("promtool: " + check.stdout + check.stderr)
    exposed = {}
    for line in open(metrics):
        found = re.match(r'upgrd_cards\{outcome="(\w+)"\} (\d+)$', line)
        if found and int(found.group(2)):
            exposed[found.group(1)] = int(found.group(2))
    if exposed != dict(counts):
        problems.append("metrics counts %s, report %s" % (exposed,
                                                          dict(counts)))

    for problem in problems:
        print(problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
