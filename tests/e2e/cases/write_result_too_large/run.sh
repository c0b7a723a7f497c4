# Files may grow to 64 blocks only (the result needs about 160 KB), and
# SIGXFSZ is ignored, so a write beyond the limit fails with EFBIG instead of
# killing the process.  An ignored signal stays ignored across exec.
trap '' XFSZ
ulimit -f 64
exec "$QUIVREL" "$@"
