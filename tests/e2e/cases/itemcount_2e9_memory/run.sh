# First the same run with the exact item count, in a directory of its own;
# then the run of the case.  /usr/bin/time records each one's peak resident
# memory in kilobytes.
mkdir exact
(cd exact && /usr/bin/time -f %M -o ../rss.exact "$QUIVREL" ../data.bin 0.01 99 > stdout) ||
    { echo "run with the exact item count failed"; exit 3; }
exec /usr/bin/time -f %M -o rss.generous "$QUIVREL" "$@"
