# Makes the partial results of data.bin at 0.3 in 2 parts, then merges them
# into a symbolic link and into a directory.
data=$1
for k in 1 2; do "$QUIVREL" --quiet --part $k/2 "$data" 0.3 9 > /dev/null || exit 1; done
echo precious > victim.txt
ln -s victim.txt link.txt
mkdir dir.txt
for out in link.txt dir.txt; do
    rm -f error.tmp
    echo "== merge $out"
    "$QUIVREL" merge $out ClosedMaxset.1-of-2.part ClosedMaxset.2-of-2.part > /dev/null 2>&1
    echo "status $?"
    [ -s error.tmp ] && sed 's/^/error.tmp: /' error.tmp
done
[ "$(cat victim.txt)" = precious ] && [ -L link.txt ] && [ -d dir.txt ] && [ -z "$(ls dir.txt)" ] &&
    echo "link, target and directory unchanged"
ls | grep -q '^link.txt\.\|^dir.txt\.' && echo "a temporary file was left"
exit 0
