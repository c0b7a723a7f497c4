# 100 sequences of one itemset each: item 1 in the first 7, item 2 in the
# first 14, item 3 in the first 28, item 4 in the first 56, the rest empty.
# These supports sit exactly on 0.07, 0.14, 0.28 and 0.56 of 100, where the
# floating-point product lands just above the whole count.
for i in $(seq 0 99); do
    line=""
    [ "$i" -lt 7 ] && line="$line 1"
    [ "$i" -lt 14 ] && line="$line 2"
    [ "$i" -lt 28 ] && line="$line 3"
    [ "$i" -lt 56 ] && line="$line 4"
    if [ -n "$line" ]; then echo "${line# } -1 -2"; else echo "-2"; fi
done > data.txt
"$QUIVREL_CONVERT" tobin data.txt data.bin
# Three sequences, item 5 in two: half of 3 is 1.5, so 2 is needed and
# item 6, in one sequence, is not frequent.
printf '5 6 -1 -2\n5 -1 -2\n7 -1 -2\n' | "$QUIVREL_CONVERT" tobin - three.bin
