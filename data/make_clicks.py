#!/usr/bin/env python3
"""Writes data/example-clicks.csv from data/example-events.csv.

The 60 sessions of the example log become the visits of 20 visitors: session
k belongs to visitor v((k-1) mod 20 + 1) and is moved (k-1) div 20 days later,
so every visitor comes back on three days.  The log then has no session
column: `quivrel-convert fromcsv --session-gap` has to find the visits.
"""
import csv
import datetime
import sys

src = sys.argv[1] if len(sys.argv) > 1 else "data/example-events.csv"
dst = sys.argv[2] if len(sys.argv) > 2 else "data/example-clicks.csv"
with open(src, newline="") as f, open(dst, "w", newline="") as out:
    w = csv.writer(out, lineterminator="\n")
    w.writerow(["time", "visitor", "page"])
    for row in csv.DictReader(f):
        k = int(row["session"][1:]) - 1
        t = datetime.datetime.fromisoformat(row["timestamp"].replace("Z", "+00:00"))
        t += datetime.timedelta(days=k // 20)
        w.writerow([t.strftime("%Y-%m-%dT%H:%M:%SZ"), "v%02d" % (k % 20 + 1), row["page"]])
