# Twenty runs while another process keeps changing the dataset: overwritten
# in place with other bytes (dd conv=notrunc), truncated, cut to half and
# copied back (cp onto it).  Each run must either give exactly the
# undisturbed result (status 0) or end with a message (status 1); a crash, a
# sanitizer report (its exit code is made 66) or anything else fails the
# case.  The output is one line per distinct outcome.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}exitcode=66"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}exitcode=66"
mask reference.txt > reference.masked || exit 1
(
    while :; do
        dd if=/dev/urandom of=data.bin bs=4096 count=2 seek=1 conv=notrunc status=none
        truncate -s 0 data.bin
        cp original.bin data.bin
        truncate -s 12000 data.bin
        sleep 0.01
        cp original.bin data.bin
        sleep 0.05
    done
) &
changer=$!
for i in $(seq 20); do
    rm -f ClosedMaxset.txt
    "$QUIVREL" "$@" > /dev/null 2> run.err
    status=$?
    if [ $status = 0 ]; then
        if mask ClosedMaxset.txt | cmp -s - reference.masked; then
            echo "status 0, undisturbed result"
        else
            echo "status 0, WRONG result"
        fi
    elif [ $status = 1 ] && [ -s error.tmp ]; then
        echo "status 1 with a message"
    else
        echo "status $status"
        cat run.err >&2
    fi
done > outcomes.txt
sort outcomes.txt | uniq -c >&2
sort -u outcomes.txt | grep -v -e 'undisturbed' -e 'with a message'
kill $changer
wait $changer 2> /dev/null
cp original.bin data.bin
exit 0
