# A stack limit of about 1 TB: no thread's stack can be mapped, neither the
# mining threads' nor the progress line's (the run goes on without the line).
ulimit -s 1000000000 || exit 2
exec "$QUIVREL" --progress --threads 3 "$@"
