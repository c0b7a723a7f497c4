# Same patterns, and peak memory within 10% of the run with the exact count.
mask() { sed -E -e 's/[0-9]+\.[0-9]{3} seconds/T seconds/g' "$1"; }
diff <(mask exact/ClosedMaxset.txt) <(mask ClosedMaxset.txt) > /dev/null ||
    { echo "the result differs from the run with the exact item count"; exit 1; }
exact=$(tail -n 1 rss.exact)
generous=$(tail -n 1 rss.generous)
echo "peak RSS: $exact kB with item count 99, $generous kB with 2000000000"
[ $((generous * 10)) -le $((exact * 11)) ] ||
    { echo "peak RSS more than 10% above the run with the exact item count"; exit 1; }
