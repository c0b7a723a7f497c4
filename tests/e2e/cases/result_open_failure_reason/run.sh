# Descriptors 0-2, the error log and the dataset fill a limit of 5, so the
# temporary result file cannot be created: the message says why.  Anything
# else open (the test harness may leave descriptors open) is closed first.
for fd in $(ls /proc/$$/fd); do
    [ "$fd" -gt 2 ] && eval "exec $fd>&-" 2> /dev/null
done
# The leak check of a sanitizer build needs descriptors of its own at exit.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
ulimit -n 5
exec "$QUIVREL" "$@"
