exec 3>> data.bin
ulimit -d 20000 && exec "$QUIVREL" "$@"
