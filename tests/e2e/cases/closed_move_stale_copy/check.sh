bash "$CASE_DIR/../../oracle_check.sh"
