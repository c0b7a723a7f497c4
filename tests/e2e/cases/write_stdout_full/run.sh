# Standard output is /dev/full: every write to it fails with ENOSPC.
exec "$QUIVREL" "$@" > /dev/full
