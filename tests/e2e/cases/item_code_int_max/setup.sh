python3 "$CASE_DIR/../../rawbin.py" data.bin 1 -1 -2 2147483647 -1 -2
