# Same patterns, and peak memory within 10% of the run with the exact count.
mask exact/ClosedMaxset.txt > exact.masked || exit 1
mask ClosedMaxset.txt > result.masked || exit 1
cmp -s exact.masked result.masked ||
    { echo "the result differs from the run with the exact item count"; exit 1; }
exact=$(tail -n 1 rss.exact)
generous=$(tail -n 1 rss.generous)
echo "peak RSS: $exact kB with item count 99, $generous kB with 2000000000"
[ $((generous * 10)) -le $((exact * 11)) ] ||
    { echo "peak RSS more than 10% above the run with the exact item count"; exit 1; }
