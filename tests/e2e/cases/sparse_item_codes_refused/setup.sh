python3 "$CASE_DIR/../../rawbin.py" data.bin 2000000000 -1 -2 7 -1 -2
