# Sourced by the setup.sh of the cases that force a small dataset onto the
# mapped (leased) path with `ulimit -d` in their run.sh: a quarter of the data
# limit is the size up to which quivrel copies a dataset into memory.  Skips
# (exit 77) a sanitizer build, whose shadow memory does not fit such limits,
# then writes data.bin: 80000 generated sequences, 12296568 bytes.
if grep -q __asan_init "$QUIVREL"; then
    echo "data-size limits do not apply to a sanitizer build: case skipped"
    exit 77
fi
"$(dirname "$QUIVREL_CONVERT")/quivrel-gen" -n 80000 -r 1 data.bin > /dev/null || exit 1
[ "$(stat -c %s data.bin)" = 12296568 ] || { echo "unexpected size of data.bin"; exit 1; }
