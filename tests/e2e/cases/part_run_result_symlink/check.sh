[ "$(cat victim.txt)" = precious ] && [ -L ClosedMaxset.txt ] && [ -L ClosedMaxset.2-of-2.part ] ||
    { echo "a link or its target was changed"; exit 1; }
[ "$(head -n 1 ClosedMaxset.1-of-2.part)" = "quivrel partial result 1" ] || { echo "part 1 not written"; exit 1; }
