cp "$CASE_DIR/../../../../data/sample.bin" data.bin
# The result of an earlier good run, which the failed run must leave alone.
printf 'CLOSED\nresult of an earlier run\n' > ClosedMaxset.txt
