# The progress line appears on standard error when it is a terminal (script
# gives the run a pseudo-terminal) or with --progress, never when standard
# error is a file, and never with --quiet; standard output and the result
# file are the same in every case.
q=$(printf '%q' "$QUIVREL")
report() {  # NAME STDERR-FILE
    if grep -q 'first-level items' "$2"; then echo "$1: progress line"; else echo "$1: no progress line"; fi
    # The pruning's line follows the mining's, with the entries pruned.
    grep -q 'pruning, [0-9]*/5 first-level subtrees' "$2" && echo "$1: pruning line"
    grep -o 'quivrel: [0-9]* sequences, [0-9]* closed patterns' "$2" | sed "s/^/$1: /"
    grep -v seconds ClosedMaxset.txt > "$1.result"
}
masked() { sed -E 's/[0-9]+\.[0-9]{3} (sec|seconds)/T/g' "$1"; }

script -qec "$q $* > tty.out" /dev/null > tty.err
report terminal tty.err
script -qec "$q --quiet $* > quiet.out" /dev/null > quiet.err
report terminal-quiet quiet.err
"$QUIVREL" "$@" > file.out 2> file.err
report file file.err
"$QUIVREL" --progress "$@" > forced.out 2> forced.err
report file-progress forced.err

for run in quiet file forced; do
    cmp -s <(masked tty.out) <(masked $run.out) || echo "standard output of $run differs"
done
cmp -s terminal.result file.result && cmp -s terminal.result file-progress.result &&
    cmp -s terminal.result terminal-quiet.result && echo "result files identical"
masked file.out
