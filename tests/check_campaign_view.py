#!/usr/bin/python3
"""Checks a campaign's page and metrics against its report, with the real
parts that will read them: Debian's chromium in headless mode loads the page
(it must log nothing: no error, nothing blocked, no script), html5lib parses
it strictly, promtool checks the metrics; the page's timeline bars and
counts, and the metrics' counts, must equal the report's.

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
    started = sum(1 for r in records if r["start"])

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
    bars = [e for e in dom.iter(SVG + "rect")
            if "card-bar" in e.get("class", "").split()]
    if len(bars) != started:
        problems.append("%d timeline bars for %d cards that started"
                        % (len(bars), started))
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
