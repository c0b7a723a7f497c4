[ -d ClosedMaxset.txt ] && [ "$(cat ClosedMaxset.txt/inside)" = kept ] ||
    { echo "the directory ClosedMaxset.txt was changed"; exit 1; }
leftover=$(ls -A | grep '^ClosedMaxset\.txt\.' || true)
[ -z "$leftover" ] || { echo "temporary result file left behind: $leftover"; exit 1; }
