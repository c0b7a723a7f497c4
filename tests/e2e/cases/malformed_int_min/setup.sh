python3 "$CASE_DIR/../../rawbin.py" data.bin 1 -1 -2 2 -2147483648 -1 -2
