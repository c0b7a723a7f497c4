# quivrel in the background under the data limit; dd as soon as mining is
# under way (the banner reaches standard output after the first scan).
( ulimit -d 40000 && exec "$QUIVREL" "$@" ) > quivrel.out 2> quivrel.err &
quivrel=$!
for _ in $(seq 200); do
    [ -s quivrel.out ] && break
    sleep 0.02
done
dd if=/dev/zero of=data.bin bs=4096 count=16 seek=8 conv=notrunc status=none
echo "error.tmp when dd returned:"
cat error.tmp
wait $quivrel
status=$?
cat quivrel.err >&2
exit $status
