#!/usr/bin/env python3
"""Writes 32-bit little-endian words to a file with no checking at all, for
end-to-end cases that need malformed or very large datasets.

usage: rawbin.py OUT WORD...            the words as given
       rawbin.py OUT --repeat N WORD... the word list N times
       rawbin.py OUT --extra-bytes K WORD...  K stray bytes appended
"""
import struct
import sys

out, args = sys.argv[1], sys.argv[2:]
repeat, extra = 1, 0
while args and args[0].startswith("--"):
    if args[0] == "--repeat":
        repeat = int(args[1])
    elif args[0] == "--extra-bytes":
        extra = int(args[1])
    args = args[2:]
words = [int(w) for w in args] * repeat
with open(out, "wb") as f:
    f.write(struct.pack("<%di" % len(words), *words))
    f.write(b"\x07" * extra)
