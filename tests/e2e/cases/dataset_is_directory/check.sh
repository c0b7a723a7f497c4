# The system's error text depends on the filesystem of the directory (mmap
# refuses a directory with ENODEV; where its size reads as 0, the empty
# mapping is refused with EINVAL): only the first line is fixed.
[ "$(head -n 1 error.tmp)" = "Failed to create view of memory map-file." ] &&
    [ "$(wc -l < error.tmp)" = 2 ] || { echo "unexpected error.tmp:"; cat error.tmp; exit 1; }
