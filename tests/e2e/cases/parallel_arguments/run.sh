# Runs quivrel once per command line below: exit status, error log, and
# which result files the run left.
data=$1
run() {
    rm -f error.tmp ClosedMaxset.txt ClosedMaxset.*.part
    echo "== $*"
    "$QUIVREL" --quiet "$@" > out.txt 2> /dev/null
    echo "status $?"
    [ -s error.tmp ] && sed 's/^/error.tmp: /' error.tmp
    ls ClosedMaxset.* 2> /dev/null
}
for t in 0 -1 1025 abc 2.5 "" 99999999999; do run --threads "$t" "$data" 0.5 9; done
run "$data" 0.5 9 --threads
for p in 0/3 4/3 3 /3 3/ 1/0 a/b 1/1000001 "1/2/3" ""; do run --part "$p" "$data" 0.5 9; done
run "$data" 0.5 9 --part
# Good values, both spellings: the same pattern lines as one thread.
"$QUIVREL" --quiet "$data" 0.5 9 > /dev/null && grep '^<' ClosedMaxset.txt > one.txt
for t in "--threads 1" "--threads 2" "--threads=7"; do
    run $t "$data" 0.5 9
    grep '^<' ClosedMaxset.txt | sort | cmp - <(sort one.txt) && echo "same patterns"
done
run --part 2/2 "$data" 0.5 9
run --part=1/1 --threads 3 "$data" 0.5 9
