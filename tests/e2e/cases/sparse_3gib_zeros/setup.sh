# 3 GiB of zero words, as a sparse file.
source "$CASE_DIR/../../sparse.sh"
make_sparse 3G
