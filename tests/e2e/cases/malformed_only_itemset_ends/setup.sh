python3 "$CASE_DIR/../../rawbin.py" data.bin --repeat 5 -1
