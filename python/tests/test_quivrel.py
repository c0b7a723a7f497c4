"""The Python package against the command line and a brute-force miner."""

import array
import math
import os
import random
import subprocess
import sys
import threading
from fractions import Fraction

import pytest

import quivrel
from conftest import BIN, CONVERT, SOURCE_DIR, bench_dataset, cli_patterns

SAMPLE = SOURCE_DIR / "data" / "sample.bin"


# ------------------------------------------------------------ brute force

def contains(sequence, pattern):
    """Whether the itemsets of `pattern` match, in order, itemsets of
    `sequence` (a list of sets); the earliest match is as good as any."""
    k = 0
    for itemset in sequence:
        if k < len(pattern) and set(pattern[k]) <= itemset:
            k += 1
    return k == len(pattern)


def brute_force_closed(sequences, min_support):
    """{pattern: support} of the closed patterns, itemsets as sorted tuples."""
    sequences = [[set(s) for s in seq] for seq in sequences]
    alphabet = sorted({x for seq in sequences for s in seq for x in s})
    frequent = {}

    def grow(pattern):
        for x in alphabet:
            grown = [pattern + ((x,),)]
            if pattern and x > pattern[-1][-1]:
                grown.append(pattern[:-1] + (pattern[-1] + (x,),))
            for p in grown:
                support = sum(contains(seq, p) for seq in sequences)
                if support >= min_support:
                    frequent[p] = support
                    grow(p)

    grow(())
    return {p: s for p, s in frequent.items()
            if not any(q != p and t == s and contains([set(x) for x in q], p)
                       for q, t in frequent.items())}


def random_sequences(rng):
    labels = ["ant", "bee", "cat", "dog", "eel"]
    sequences = []
    for _ in range(rng.randint(1, 9)):
        seq = []
        for _ in range(rng.randint(0, 5)):
            if rng.random() < 0.3:
                seq.append(rng.choice(labels))  # a single label: one-item itemset
            else:  # possibly empty, possibly with a repeated label
                seq.append([rng.choice(labels) for _ in range(rng.randint(0, 3))])
        sequences.append(seq)
    return sequences


def test_random_lists_equal_brute_force():
    rng = random.Random(16)
    for _ in range(150):
        sequences = random_sequences(rng)
        n = len(sequences)
        support = rng.randint(1, n)  # an int is a count of sequences
        count = support
        if rng.random() < 0.5:
            # A fraction is taken exactly as its shortest decimal, rounded up
            # to a count: 5 / 6 is 0.8333333333333334, which 5 of 6 miss.
            support = support / n
            count = math.ceil(Fraction(repr(support)) * n)
        normalised = [[[s] if isinstance(s, str) else s for s in seq] for seq in sequences]
        expected = brute_force_closed(normalised, count)
        found = quivrel.mine(sequences, support, threads=rng.choice([1, 3]))
        got = {tuple(tuple(sorted(s)) for s in p.itemsets): p.support for p in found}
        assert got == expected, sequences
        assert len(found) == len(got)
        assert all(p.ratio == p.support / n for p in found)


# ---------------------------------------------------------- command line

@pytest.mark.parametrize("name,support", [("SIGN", 0.4), ("LEVIATHAN", 0.05), ("BIBLE", 0.05)])
def test_benchmark_rows_equal_command_line(tmp_path, name, support):
    dataset = bench_dataset(name)
    found = quivrel.mine(dataset, support)
    assert [(p.itemsets, p.support) for p in found] == cli_patterns(tmp_path, dataset, support)


def test_sample_file_lists_threads_and_no_files(tmp_path, monkeypatch):
    expected = cli_patterns(tmp_path / "..", SAMPLE, 0.1)
    words = array.array("i", SAMPLE.read_bytes()).tolist()
    sequences, seq, itemset = [], [], []
    for w in words:
        if w >= 0:
            itemset.append(w)
        elif w == -1:
            seq.append(itemset)
            itemset = []
        else:
            sequences.append(seq)
            seq = []
    monkeypatch.chdir(tmp_path)
    by_path = quivrel.mine(str(SAMPLE), 0.1, threads=2)
    assert [(p.itemsets, p.support) for p in by_path] == expected
    # The same data as lists: codes are given in order of first occurrence,
    # so the patterns come in another order.
    as_lists = quivrel.mine(sequences, 0.1)
    assert sorted((p.itemsets, p.support) for p in as_lists) == sorted(expected)
    # Two calls on two threads at once, several times over.
    results = {}

    def run(key, source):
        results[key] = [quivrel.mine(source, 0.1) for _ in range(3)]

    threads = [threading.Thread(target=run, args=(k, s))
               for k, s in (("path", SAMPLE), ("lists", sequences))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results["path"] == [by_path] * 3
    assert results["lists"] == [as_lists] * 3
    assert os.listdir(tmp_path) == []  # nothing written where the caller stands


# ---------------------------------------------------------------- events

def test_mine_events_gives_the_walkthrough_patterns(tmp_path):
    pd = pytest.importorskip("pandas")
    events = pd.read_csv(SOURCE_DIR / "data" / "example-events.csv")
    found = quivrel.mine_events(events, "session", "timestamp", "page", 0.2)
    assert list(found.columns) == ["pattern", "itemsets", "support", "ratio", "items", "length"]
    top = found.sort_values("support", ascending=False, kind="stable").head(5)
    assert list(zip(top.pattern, top.support)) == [
        ("(home)", 60), ("(home)(product page)", 34), ("(home)(search)", 34),
        ("(home)(search)(product page)", 25), ("(home)(search)(Laptops, 15 inch)", 24)]
    row = found[found.pattern == "(home)(product page recommendations)(cart)(checkout)"]
    assert list(row.support) == [12] and list(row["items"]) == [5] and list(row.length) == [4]
    # The whole result is the command line's on the converted file.
    subprocess.run([CONVERT, "fromcsv", str(SOURCE_DIR / "data" / "example-events.csv"),
                    "events.bin", "--seq", "session", "--order", "timestamp", "--item", "page"],
                   cwd=tmp_path, check=True, stdout=subprocess.DEVNULL)
    cli = cli_patterns(tmp_path, tmp_path / "events.bin", 0.2)
    assert list(found.support) == [s for _, s in cli]
    assert list(found.length) == [len(p) for p, _ in cli]

    clicks = pd.read_csv(SOURCE_DIR / "data" / "example-clicks.csv")
    for gap in (pd.Timedelta("30m"), "30m"):
        visits = quivrel.mine_events(clicks, "visitor", "time", "page", 0.2, session_gap=gap)
        row = visits[visits.pattern == "(home)(payment)"]
        assert list(row.support) == [23] and row.ratio.iloc[0] == pytest.approx(23 / 60)
        assert list(visits[visits.pattern == "(home)(checkout)(payment)"].support) == [20]


def test_mine_events_keeps_whole_order_values_beyond_float_precision():
    # Nanosecond timestamps 1 apart are equal as float64: x and y would
    # merge into one itemset and a gap of 1 could not tell them apart.
    pd = pytest.importorskip("pandas")
    t = [1700000000123456790, 1700000000123456789]
    for order in (t + [5], [str(v) for v in t] + ["5"], [str(v) for v in t] + ["5.5"]):
        df = pd.DataFrame({"s": ["a"] * 3, "t": order, "i": ["y", "x", "w"]})
        assert list(quivrel.mine_events(df, "s", "t", "i", 1).pattern) == ["(w)(x)(y)"]
        for gap, expected in ((0, {"(w)", "(x)", "(y)"}), (1, {"(w)", "(x)(y)"})):
            found = quivrel.mine_events(df, "s", "t", "i", 1, session_gap=gap)
            assert set(found.pattern) == expected, (order, gap)


# ---------------------------------------------------------------- errors

def test_bad_arguments_raise_value_error():
    pd = pytest.importorskip("pandas")
    for support in (0, 0.0, 1.5, -1, float("nan"), True, "0.1", None):
        with pytest.raises(ValueError):
            quivrel.mine([["a"]], support)
    for threads in (0, -2, 1.5, True, "2"):
        with pytest.raises(ValueError):
            quivrel.mine([["a"]], 1, threads=threads)
    for sequences in (5, ["ab"], [[["a", ["b"]]]], [7]):
        with pytest.raises(ValueError):
            quivrel.mine(sequences, 1)
    events = pd.DataFrame({"s": [1, 1], "t": [1.0, 2.0], "i": ["a", "b"]})
    timed = events.assign(t=pd.to_datetime(["2024-01-01", "2024-01-02"]))
    for df, kwargs in ((events, {"item": "x"}), (events, {"session_gap": pd.Timedelta("1h")}),
                       (timed, {"session_gap": 5}), (events.assign(i=["a", None]), {}),
                       (events.assign(t=["x", "y"]), {}), ([[1]], {})):
        args = {"seq": "s", "order": "t", "item": "i", **kwargs}
        with pytest.raises(ValueError):
            quivrel.mine_events(df, support=1, **args)


def test_malformed_dataset_raises_dataset_error_as_error_log(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    cases = [([1, 3, 2, -1, -2], 2), ([1, -1, -2, 4, -2], 4), ([1, -1, -7, -2], 2)]
    for words, offset in cases:
        path = tmp_path / "bad.bin"
        path.write_bytes(array.array("i", words).tobytes())
        status = subprocess.run([BIN, "--quiet", "bad.bin", "1", "auto"], cwd=tmp_path,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        assert status == 1
        with pytest.raises(quivrel.DatasetError) as caught:
            quivrel.mine("bad.bin", 1.0)
        assert caught.value.message == (tmp_path / "error.tmp").read_text()
        assert caught.value.offset == offset
    with pytest.raises(quivrel.DatasetError) as caught:
        quivrel.mine(tmp_path / "absent.bin", 0.5)
    assert caught.value.offset is None and "absent.bin" in str(caught.value)


def run_child(code):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout.split()


def test_out_of_memory_raises_memory_error(tmp_path):
    # Item code 30 million needs per-item tables of some 700 MB; the address
    # space left is 256 MB.  The interpreter can mine again afterwards.
    path = tmp_path / "wide.bin"
    path.write_bytes(array.array("i", [30_000_000, -1, -2]).tobytes())
    out = run_child(f"""
import resource, quivrel
size = int(open("/proc/self/status").read().split("VmSize:")[1].split()[0]) * 1024
resource.setrlimit(resource.RLIMIT_AS, (size + (256 << 20),) * 2)
try:
    quivrel.mine({str(path)!r}, 1)
    print("mined")
except MemoryError as e:
    print("MemoryError", "Fail to allocate memory" in str(e))
print(len(quivrel.mine([["a", "b"], ["a"]], 1)))
""")
    assert out == ["MemoryError", "True", "2"]


def test_ctrl_c_interrupts_the_run_and_the_interpreter_goes_on():
    # The run takes about 20 seconds when nothing stops it.
    out = run_child("""
import os, random, signal, sys, threading, time, quivrel
rng = random.Random(5)
seqs = [[[rng.randrange(30) for _ in range(rng.randint(1, 4))] for _ in range(25)]
        for _ in range(400)]
sent = []
def interrupt():
    time.sleep(1.0)
    sent.append(time.monotonic())
    os.kill(os.getpid(), signal.SIGINT)
threading.Thread(target=interrupt).start()
try:
    quivrel.mine(seqs, 0.1)
    print("completed")
except KeyboardInterrupt:
    print("interrupted", time.monotonic() - sent[0])
print(len(quivrel.mine([["a", "b"], ["a"]], 1)), "pandas" in sys.modules)
""")
    assert out[0] == "interrupted" and out[2:] == ["2", "False"]  # pandas only for events
    # Within a second on an idle machine; the bound leaves room for a busy one.
    assert float(out[1]) < 3.0
