# The dataset arrives through a pipe, which has no size and cannot be mapped.
cat data.bin | "$QUIVREL" "$@"
