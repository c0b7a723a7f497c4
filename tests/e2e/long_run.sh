# Sourced by cases that need a run still mining when they act on it.
# make_long_dataset: data.bin that takes many seconds to mine at 0.3 (item
# count 99); the cases end the run long before it completes.
make_long_dataset() {
    "$(dirname "$QUIVREL_CONVERT")/quivrel-gen" -n 3000 -s 20 -t 5 -i 100 -r 7 data.bin > /dev/null ||
        exit 1
}
# wait_for_progress: waits (up to 60 s) until error.tmp says the run is in
# progress and the first projection has begun, that is the run is mining.
wait_for_progress() {
    local i
    for i in $(seq 600); do
        if grep -q '^quivrel run in progress (pid [0-9]*), started at ' error.tmp 2>/dev/null &&
           grep -q 'Counting 1-Item sets' "$1" 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    echo "the run never got to mining"
    return 1
}
# interrupt_long_run SIGNAL ARGS...: starts quivrel in the background, keeps
# the "in progress" line of error.tmp (masked) in progress.txt once it mines,
# then sends SIGNAL and waits for the run.  Job control (set -m) gives the
# background run the default dispositions, as a run started from a terminal
# has.
interrupt_long_run() {
    local sig=$1 pid
    shift
    set -m
    "$QUIVREL" "$@" > run.out &
    pid=$!
    wait_for_progress run.out || { kill -KILL $pid; exit 2; }
    sed -E 's/pid [0-9]+/pid N/; s/started at .*/started at T/' error.tmp > progress.txt
    kill -"$sig" $pid
    wait $pid
}
