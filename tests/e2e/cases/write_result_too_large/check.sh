# The temporary result file is gone as well.
leftover=$(ls -A | grep '^ClosedMaxset\.txt\.' || true)
[ -z "$leftover" ] || { echo "temporary result file left behind: $leftover"; exit 1; }
