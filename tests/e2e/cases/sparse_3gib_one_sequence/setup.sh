# The sequence (1 2)(3), then zeros up to 3 GiB, as a sparse file.
source "$CASE_DIR/../../sparse.sh"
make_sparse 3G 1 2 -1 3 -1 -2
