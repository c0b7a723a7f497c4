# Runs quivrel once per command line below and reports, for each, the exit
# status, the error log and the lines that show how the values were read.
data=$1
run() {
    rm -f error.tmp ClosedMaxset.txt
    echo "== $*"
    "$QUIVREL" "$@" > out.txt 2> /dev/null
    echo "status $?"
    [ -f error.tmp ] && sed 's/^/error.tmp: /' error.tmp
    grep -E '^(# of items|Support threshold|Total of|Usage|Invalid|Unknown)' out.txt
    [ -f ClosedMaxset.txt ] && grep -c '^<' ClosedMaxset.txt
}
for s in 0.5abc 0x10 inf nan -0.5 +0.5 " 0.5" 150% 0% 1.5 1e1 . 1e 5%%; do run "$data" "$s" 9; done
for c in 1e3 99.9 abc -1 " 9" 2147483648; do run "$data" 0.5 "$c"; done
for s in 50% 0.5% 1 1.0 100% .5 5E-1 0.00005e4 1e-300 1e-99999999999999999999; do run "$data" "$s" 9; done
run --quiet "$data" 0.5 9
run --progress --quiet "$data" 0.5 9
run -- "$data" 0.5 9
run --nope "$data" 0.5 9
run --help
run "$data" -h
run --quiet "$data" 0.5
echo "== --help > /dev/full"
"$QUIVREL" --help > /dev/full 2> /dev/null
echo "status $?"
