#!/usr/bin/env python3
"""Writes data/sample.bin, the small dataset that `make demo` mines.

300 shopping-basket-like sequences over item codes 0..99: each sequence is a
few random itemsets with a couple of planted patterns mixed in, so that the
closed patterns at 5% support are few enough to read.  Deterministic.
"""
import random
import struct
import sys

rng = random.Random(20261207)
planted = [[[3], [17, 42], [8]], [[5, 9], [60]], [[21], [21], [77]], [[12, 30, 31]]]
words = []
for _ in range(300):
    itemsets = []
    for _ in range(rng.randint(2, 7)):
        itemsets.append(sorted(set(rng.randrange(100) for _ in range(rng.randint(1, 3)))))
    for pat in planted:
        if rng.random() < 0.25:
            at = rng.randint(0, len(itemsets))
            for k, s in enumerate(pat):
                pos = min(at + k, len(itemsets))
                itemsets.insert(pos, list(s))
    for s in itemsets:
        words.extend(s)
        words.append(-1)
    words.append(-2)
out = sys.argv[1] if len(sys.argv) > 1 else "data/sample.bin"
with open(out, "wb") as f:
    f.write(struct.pack("<%di" % len(words), *words))
