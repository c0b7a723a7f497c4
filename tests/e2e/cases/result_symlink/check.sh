[ "$(cat victim.txt)" = precious ] && [ -L ClosedMaxset.txt ] || { echo "the link or its target was changed"; exit 1; }
