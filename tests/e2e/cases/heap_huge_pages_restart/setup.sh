# data.bin, 1.5 MiB: large enough for quivrel to start itself again with the
# huge-page heap; small.bin, 2.4 KB: too small for that.  Skips (exit 77)
# where the kernel has no transparent huge pages, which rule the new start
# out.
grep -qE '\[(always|madvise)\]' /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null || {
    echo "no transparent huge pages on this machine: case skipped"
    exit 77
}
python3 "$CASE_DIR/../../rawbin.py" data.bin --repeat 65536 1 2 -1 3 -1 -2
python3 "$CASE_DIR/../../rawbin.py" small.bin --repeat 100 1 2 -1 3 -1 -2
