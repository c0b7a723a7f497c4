#!/usr/bin/env bash
# Differential check of two quivrel binaries on many random small datasets:
# standard output, ClosedMaxset.txt, error.tmp and the exit status must be
# the same byte for byte, time figures aside.  Used to show that a change
# which must not alter behaviour (a refactor, a speed-up) does not.
#
#   tests/differential.sh OLD_QUIVREL NEW_QUIVREL [COUNT [SEED]]
set -u
old=$(realpath "$1") new=$(realpath "$2") count=${3:-2000} seed=${4:-1}
work=$(mktemp -d /tmp/quivrel-diff.XXXXXX)
trap 'rm -rf "$work"' EXIT
mask() {
    sed -E -e 's/[0-9]+\.[0-9]{3} seconds/T seconds/g' -e 's/\([0-9]+\.[0-9]{3} sec\)/(T sec)/g' "$1"
}
run() {  # run BINARY DIR DATA SUPPORT ITEMCOUNT
    mkdir -p "$2" && (cd "$2" && "$1" --quiet ../data.bin "$4" "$5" > stdout 2> stderr; echo $? > status)
}
python3 - "$work" "$count" "$seed" <<'PY'
import random, struct, sys, os
work, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(seed)
for k in range(count):
    items = rng.choice([3, 5, 8, 20, 60])
    seqs = rng.randint(0, 40)
    maxsets = rng.choice([1, 3, 6, 12])
    maxsize = rng.choice([1, 1, 2, 4])
    words = []
    for _ in range(seqs):
        for _ in range(rng.randint(0, maxsets)):
            itemset = sorted(rng.choice(range(items)) for _ in range(rng.randint(1, maxsize)))
            if rng.random() < 0.8:
                itemset = sorted(set(itemset))
            words += itemset + [-1]
        words.append(-2)
    fault = rng.random()
    if fault < 0.03 and words:
        words[rng.randrange(len(words))] = rng.choice([-3, items + 5, -2, -1])
    elif fault < 0.05 and words:
        words.pop()
    support = rng.choice(['0.05', '0.1', '0.2', '0.3', '0.5', '1', '10%'])
    itemcount = rng.choice([str(items - 1), str(items - 1), 'auto'])
    d = os.path.join(work, str(k))
    os.makedirs(d)
    with open(os.path.join(d, 'data.bin'), 'wb') as f:
        f.write(struct.pack('<%di' % len(words), *words))
    with open(os.path.join(d, 'args'), 'w') as f:
        f.write('%s %s\n' % (support, itemcount))
PY
fail=0
for ((k = 0; k < count; k++)); do
    d=$work/$k
    read -r support itemcount < "$d/args"
    run "$old" "$d/old" data.bin "$support" "$itemcount"
    run "$new" "$d/new" data.bin "$support" "$itemcount"
    for f in stdout ClosedMaxset.txt error.tmp status; do
        if [ -e "$d/old/$f" ] && [ ! -e "$d/new/$f" ] || [ ! -e "$d/old/$f" ] && [ -e "$d/new/$f" ] ||
           ! cmp -s <(mask "$d/old/$f" 2>/dev/null) <(mask "$d/new/$f" 2>/dev/null); then
            [ "$fail" -lt 20 ] && echo "dataset $k ($support $itemcount): $f differs"
            fail=$((fail + 1))
            cp -r "$d" "/tmp/quivrel-diff-failed-$k" 2>/dev/null
        fi
    done
done
echo "$count datasets, $fail differences"
[ "$fail" -eq 0 ]
