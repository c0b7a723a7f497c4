# The shell keeps data.bin open for writing for the whole run.
exec 3>> data.bin
ulimit -d 30000 && exec "$QUIVREL" "$@"
