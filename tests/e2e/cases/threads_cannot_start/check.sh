# The patterns are those of a run on one thread.
mkdir one && cd one && "$QUIVREL" --quiet ../data.bin 0.1 99 > /dev/null || exit 1
cmp <(grep '^<' ClosedMaxset.txt) <(grep '^<' ../ClosedMaxset.txt)
