cp "$CASE_DIR/../../../../data/sample.bin" data.bin
