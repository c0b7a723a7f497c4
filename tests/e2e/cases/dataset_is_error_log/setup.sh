# The dataset is named error.tmp: opening the error log would empty it.
"$QUIVREL_CONVERT" tobin /dev/stdin error.tmp <<'DATA'
1 2 -1 3 -1 -2
DATA
cp error.tmp original.bin
