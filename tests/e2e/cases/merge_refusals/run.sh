# Makes the partial results of data.bin at 0.3 in 3 parts (and one of
# another threshold), then tries the merges below.
data=$1
for k in 1 2 3; do "$QUIVREL" --quiet --part $k/3 "$data" 0.3 9 > /dev/null || exit 1; done
mkdir other && (cd other && "$QUIVREL" --quiet --part 2/3 "../$data" 0.4 9 > /dev/null) || exit 1
mkdir two && (cd two && "$QUIVREL" --quiet --part 2/2 "../$data" 0.3 9 > /dev/null) || exit 1
# The same sequences in another order: a file of the same size whose words differ.
mkdir moved && printf '4 -1 -2\n1 2 -1 3 -1 -2\n1 -1 9 -1 -2\n' > moved/data.txt &&
    "$QUIVREL_CONVERT" tobin moved/data.txt moved/data.bin &&
    (cd moved && "$QUIVREL" --quiet --part 2/3 data.bin 0.3 9 > /dev/null) || exit 1
sed '$d' ClosedMaxset.1-of-3.part > cut.part
merge() {
    rm -f out.txt error.tmp
    echo "== merge $*"
    "$QUIVREL" merge "$@" > /dev/null 2>&1
    echo "status $?"
    [ -s error.tmp ] && sed 's/^/error.tmp: /' error.tmp
    [ -f out.txt ] && echo "out.txt written"
}
P1=ClosedMaxset.1-of-3.part P2=ClosedMaxset.2-of-3.part P3=ClosedMaxset.3-of-3.part
merge out.txt
merge out.txt $P1 $P3
merge out.txt $P1 $P2 $P3 $P2
merge out.txt $P1 other/ClosedMaxset.2-of-3.part $P3
merge out.txt $P1 two/ClosedMaxset.2-of-2.part $P3
merge out.txt $P1 moved/ClosedMaxset.2-of-3.part $P3
merge out.txt cut.part $P2 $P3
merge out.txt $P1 $P2 "$data"
merge out.txt $P1 $P2 no-such.part
merge $P1 $P1 $P2 $P3
merge out.txt $P3 $P1 $P2
"$QUIVREL" --quiet "$data" 0.3 9 > /dev/null
grep '^<' ClosedMaxset.txt | sort | cmp - <(grep '^<' out.txt | sort) && echo "same closed set as one run"
