# No file may grow at all (ulimit -f 0, SIGXFSZ ignored), as on a full disk:
# neither error.tmp nor the result can be written.  Only quivrel gets the
# limit; its two streams reach this case's files through cat, which has none.
{
    bash -c 'trap "" XFSZ; ulimit -f 0; exec "$0" "$@"' "$QUIVREL" "$@" 2>&1 1>&3 3>&- | cat >&2
    exit "${PIPESTATUS[0]}"
} 3>&1 | cat
exit "${PIPESTATUS[0]}"
