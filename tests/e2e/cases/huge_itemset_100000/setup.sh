# Sequence 1: one itemset of the 100,000 codes 0..99999; sequence 2: (0 1 2)(3).
python3 - <<'PY'
import struct
words = list(range(100000)) + [-1, -2] + [0, 1, 2, -1, 3, -1, -2]
with open("data.bin", "wb") as f:
    f.write(struct.pack("<%di" % len(words), *words))
PY
