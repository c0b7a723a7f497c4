# Exactly one closed pattern: twenty thousand itemsets (1), support 2.
set -e
lines=$(grep -c '^<' ClosedMaxset.txt)
[ "$lines" = 1 ] || { echo "expected one pattern line, found $lines"; exit 1; }
python3 - <<'PY'
import re, sys
line = next(l for l in open("ClosedMaxset.txt") if l.startswith("<"))
m = re.match(r"<(.*)>  Num= -?\d+ Support = (\d+)   ItemsetNumber = (\d+)$", line.rstrip("\n"))
assert m, line[:200]
assert m.group(1) == "(1)" * 20000, "pattern is not (1) x 20000"
assert m.group(2) == "2" and m.group(3) == "20000", m.groups()
PY
grep -qx 'Closed/Max 20000 : 1' ClosedMaxset.txt
grep -qx 'Large 20000 : 1' stdout.actual
