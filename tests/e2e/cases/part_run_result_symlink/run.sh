# A part run does not write ClosedMaxset.txt: the link there is no reason to
# refuse it.
"$QUIVREL" --quiet --part 1/2 "$@" > /dev/null || { echo "part 1 refused: $(cat error.tmp)"; exit 1; }
# The file a part run does write is checked as ClosedMaxset.txt is by a whole run.
ln -s victim.txt ClosedMaxset.2-of-2.part
"$QUIVREL" --quiet --part 2/2 "$@"
