# Standard output is closed.
exec "$QUIVREL" "$@" >&-
