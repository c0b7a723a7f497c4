"""Shared helpers of the package's tests: the built programs, the command
line's result for comparison, and the benchmark datasets (found and unpacked
as bench/lib.sh does it: QUIVREL_DATA_SRC, QUIVREL_BENCH_DATA)."""

import os
import re
import subprocess
from pathlib import Path

import pytest

SOURCE_DIR = Path(os.environ.get("QUIVREL_SOURCE_DIR", Path(__file__).resolve().parents[2]))
BIN = os.environ.get("QUIVREL_BIN", str(SOURCE_DIR / "build" / "quivrel"))
CONVERT = os.environ.get("QUIVREL_CONVERT", str(SOURCE_DIR / "build" / "tools" / "quivrel-convert"))
DATA_SRC = Path(os.environ.get("QUIVREL_DATA_SRC", SOURCE_DIR.parent / "shared" / "data"))
DATA_DIR = Path(os.environ.get("QUIVREL_BENCH_DATA",
                               Path(os.environ.get("TMPDIR", "/tmp")) / "quivrel-bench-data"))

_LINE = re.compile(r"^<(.*)>  Num= -?\d+ Support = (\d+) ")


def cli_patterns(workdir, dataset, support, itemcount="auto"):
    """The command line's closed patterns, in file order, as
    (itemsets of int codes, support)."""
    subprocess.run([BIN, "--quiet", str(dataset), str(support), str(itemcount)],
                   cwd=workdir, check=True, stdout=subprocess.DEVNULL)
    patterns = []
    for line in (Path(workdir) / "ClosedMaxset.txt").read_text().splitlines():
        m = _LINE.match(line)
        if m:
            sets = tuple(tuple(int(x) for x in s.split()) for s in m.group(1)[1:-1].split(")("))
            patterns.append((sets, int(m.group(2))))
    return patterns


def bench_dataset(name):
    """Path of benchmark dataset NAME, unpacked on first use; skips the test
    when the compressed datasets are not on this machine."""
    target = DATA_DIR / f"{name}.bin"
    if not target.exists():
        source = DATA_SRC / f"{name}.bin.xz"
        if not source.exists():
            pytest.skip(f"benchmark dataset {source} is absent (set QUIVREL_DATA_SRC)")
        DATA_DIR.mkdir(parents=True, exist_ok=True)
        part = target.with_suffix(f".part{os.getpid()}")
        with open(part, "wb") as out:
            subprocess.run(["xz", "-dc", str(source)], stdout=out, check=True)
        os.replace(part, target)
    return target
