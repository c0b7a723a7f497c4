source "$CASE_DIR/../../long_run.sh"
make_long_dataset
