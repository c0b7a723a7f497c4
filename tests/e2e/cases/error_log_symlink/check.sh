[ "$(cat victim.txt)" = precious ] || { echo "the link's target was changed"; exit 1; }
