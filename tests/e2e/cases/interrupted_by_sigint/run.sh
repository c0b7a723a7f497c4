# Starts a long run, checks the "in progress" line of error.tmp while it
# mines, then sends SIGINT.
source "$CASE_DIR/../../long_run.sh"
interrupt_long_run INT "$@"
