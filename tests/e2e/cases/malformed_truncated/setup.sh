python3 "$CASE_DIR/../../rawbin.py" data.bin --extra-bytes 2 1 -1 -2
