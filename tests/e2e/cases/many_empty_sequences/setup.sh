python3 "$CASE_DIR/../../rawbin.py" data.bin --repeat 100000 -2
