# The dataset is named ClosedMaxset.txt: opening the error log would empty it.
"$QUIVREL_CONVERT" tobin /dev/stdin ClosedMaxset.txt <<'DATA'
1 2 -1 3 -1 -2
DATA
cp ClosedMaxset.txt original.bin
