# The mapping message, then the system's text for a directory.
[ "$(cat error.tmp)" = "Failed to create view of memory map-file.
$(python3 -c 'import os, errno; print(os.strerror(errno.EISDIR))')" ] ||
    { echo "unexpected error.tmp:"; cat error.tmp; exit 1; }
