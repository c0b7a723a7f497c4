source "$CASE_DIR/../../long_run.sh"
make_long_dataset
# The result of an earlier good run, which the interrupted one must keep.
printf 'CLOSED\nresult of an earlier run\n' > ClosedMaxset.txt
