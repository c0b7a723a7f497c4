python3 "$CASE_DIR/../../rawbin.py" data.bin --repeat 262144 1 -1 -2
