if grep -q __asan_init "$QUIVREL"; then
    echo "address-space limits do not apply to a sanitizer build: case skipped"
    exit 77
fi
cp "$CASE_DIR/../../../../data/sample.bin" data.bin
