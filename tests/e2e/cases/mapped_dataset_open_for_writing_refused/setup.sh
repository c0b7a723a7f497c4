source "$CASE_DIR/../../mapped_dataset.sh"
