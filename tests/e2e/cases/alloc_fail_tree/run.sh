# An address-space limit that set-up fits in but the growing pattern tree
# does not: an allocation by operator new fails mid-run.
ulimit -v 20000
exec "$QUIVREL" "$@"
