python3 "$CASE_DIR/../../rawbin.py" data.bin 1 -1 -2 30000000 -1 -2
