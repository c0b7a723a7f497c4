cp "$CASE_DIR/../../../../data/sample.bin" original.bin
cp original.bin data.bin
# The result of an undisturbed run, to compare each disturbed one with.
"$QUIVREL" data.bin 0.003 99 > /dev/null && mv ClosedMaxset.txt reference.txt
