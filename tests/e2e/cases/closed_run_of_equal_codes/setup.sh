python3 "$CASE_DIR/../../rawbin.py" data.bin 0 -1 0 0 -1 -2
