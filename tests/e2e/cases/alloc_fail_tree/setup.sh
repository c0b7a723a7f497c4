if grep -q __asan_init "$QUIVREL"; then
    echo "address-space limits do not apply to a sanitizer build: case skipped"
    exit 77
fi
source "$CASE_DIR/../../long_run.sh"
make_long_dataset
