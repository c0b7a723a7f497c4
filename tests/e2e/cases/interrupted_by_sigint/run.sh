# Starts a long run, checks the "in progress" line of error.tmp while it
# mines, then sends SIGINT.  Job control (set -m) gives the background run
# the default SIGINT disposition, as a run started from a terminal has.
source "$CASE_DIR/../../long_run.sh"
set -m
"$QUIVREL" "$@" > run.out &
pid=$!
wait_for_progress run.out || { kill -KILL $pid; exit 2; }
sed -E 's/pid [0-9]+/pid N/; s/started at .*/started at T/' error.tmp > progress.txt
kill -INT $pid
wait $pid
