# A good sequence at the start, zero words, then -1 -2 and a bad word -7 in
# the last sequence, beyond 1.5 GiB.
source "$CASE_DIR/../../sparse.sh"
make_sparse 1600M 1 -1 -2 -- -1 -2 3 -7 -1 -2
