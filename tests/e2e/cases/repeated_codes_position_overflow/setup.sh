python3 "$CASE_DIR/../../rawbin.py" data.bin 7 -1 7 7 7 7 7 7 7 7 8 -1 -2
