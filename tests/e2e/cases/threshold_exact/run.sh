# For each threshold, the closed patterns found (the support figures).
run() {
    echo "== $*"
    "$QUIVREL" --quiet "$@" > /dev/null || echo "status $?"
    grep '^<' ClosedMaxset.txt | sed -E 's/  Num= [0-9]+//'
}
for s in 0.07 0.14 0.28 0.56 0.57 7% 0.0700000000000000000001 1e-300 100% 1; do run data.bin "$s" 4; done
run three.bin 0.5 7
run three.bin 0.6666666666666667 7
run three.bin 0.66666666666666666666 7
