# The same run with the largest code given by hand writes the same patterns.
mkdir given && cd given && cp ../data.bin . && "$QUIVREL" --quiet data.bin 0.3 9 > stdout.txt || exit 1
diff <(grep -v seconds ClosedMaxset.txt) <(grep -v seconds ../ClosedMaxset.txt)
