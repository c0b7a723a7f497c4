# Two sequences at the start, (1)(2) and (1); zero words from there to near
# the end of 1.6 GiB, closed by -1 2 -1 -2 into the sequence (0)(2); then
# (1)(2) and (2) at the very end, beyond 1.5 GiB.
source "$CASE_DIR/../../sparse.sh"
make_sparse 1600M 1 -1 2 -1 -2 1 -1 -2 -- -1 2 -1 -2 1 -1 2 -1 -2 2 -1 -2
