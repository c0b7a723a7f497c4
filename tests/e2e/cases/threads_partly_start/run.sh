# Room for one stack of about 1 GB beside the program, not for two.
ulimit -s 1000000 && ulimit -v 1500000 || exit 2
exec "$QUIVREL" --quiet --threads 3 "$@"
