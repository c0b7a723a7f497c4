python3 "$CASE_DIR/../../rawbin.py" data.bin 1 2 2 -1 -2 2 1 -1 -2
