[ "$(cat progress.txt)" = "quivrel run in progress (pid N), started at T" ] ||
    { echo "no in-progress line while mining: $(cat progress.txt)"; exit 1; }
leftover=$(ls -A | grep '^ClosedMaxset\.txt\.' || true)
[ -z "$leftover" ] || { echo "temporary result file left behind: $leftover"; exit 1; }
