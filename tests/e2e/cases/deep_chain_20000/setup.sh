# Two identical sequences of 20,000 one-item itemsets (1)(1)...(1).
python3 - <<'PY'
import struct
words = [1, -1] * 20000 + [-2]
with open("data.bin", "wb") as f:
    f.write(struct.pack("<%di" % (2 * len(words)), *(words * 2)))
PY
