python3 "$CASE_DIR/../../rawbin.py" data.bin 1 -1 -2 2000000000 -1 -2
