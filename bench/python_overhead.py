#!/usr/bin/python3
"""Per-call overhead of quivrel.mine(path, ...) against the command line.

    PYTHONPATH=build/python bench/python_overhead.py [-n RUNS] DATASET SUPPORT ITEMCOUNT ...

Each DATASET is a path (bench/run.sh unpacks the benchmark datasets into
/tmp/quivrel-bench-data). The two are run alternately, RUNS times each (the
machine may be busy), and the medians of the wall times are compared: the
command line's whole process (start, mining, writing ClosedMaxset.txt)
against one mine() call in a running interpreter, whose patterns must be the
command line's.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import quivrel

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("-n", type=int, default=7)
    parser.add_argument("--bin", default=os.path.join(REPO, "build", "quivrel"))
    parser.add_argument("rows", nargs="+")
    args = parser.parse_args()
    if len(args.rows) % 3:
        parser.error("rows are DATASET SUPPORT ITEMCOUNT")
    print("| dataset | support | command line (s) | mine() (s) | overhead |")
    print("|---|---|---|---|---|")
    for k in range(0, len(args.rows), 3):
        path, support, items = args.rows[k:k + 3]
        cli, py = [], []
        with tempfile.TemporaryDirectory() as work:
            for _ in range(args.n):
                t = time.perf_counter()
                subprocess.run([args.bin, "--quiet", path, support, items], cwd=work,
                               check=True, stdout=subprocess.DEVNULL)
                cli.append(time.perf_counter() - t)
                t = time.perf_counter()
                found = quivrel.mine(path, float(support))
                py.append(time.perf_counter() - t)
            lines = [ln for ln in open(os.path.join(work, "ClosedMaxset.txt")) if ln[0] == "<"]
            if len(lines) != len(found):
                sys.exit(f"{path}: {len(found)} patterns from mine(), {len(lines)} from the command line")
        c, p = statistics.median(cli), statistics.median(py)
        print(f"| {os.path.basename(path)} | {support} | {c:.3f} | {p:.3f} | {100 * (p / c - 1):+.1f}% |")


if __name__ == "__main__":
    main()
