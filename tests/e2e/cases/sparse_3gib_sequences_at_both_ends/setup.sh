# The sequence (1 2)(3) at the start; zero words (item 0) up to 3 GiB, ended
# by -1 -2, form a second sequence (0) whose end lies beyond 2 GiB.
source "$CASE_DIR/../../sparse.sh"
make_sparse 3G 1 2 -1 3 -1 -2 -- -1 -2
