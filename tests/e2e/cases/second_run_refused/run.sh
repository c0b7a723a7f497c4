# A second run in the same directory while the first one mines: it refuses
# at once, naming the first, and leaves error.tmp to the first.  Its status
# and standard error are this case's; the first run is then stopped.
source "$CASE_DIR/../../long_run.sh"
"$QUIVREL" "$@" > first.out 2> first.err &
first=$!
wait_for_progress first.out || { kill -KILL $first; exit 2; }
"$QUIVREL" "$@" 2> second.err
status=$?
sed "s/(pid $first)/(pid FIRST)/" second.err >&2
cp error.tmp during.txt
kill -TERM $first
wait $first
exit $status
