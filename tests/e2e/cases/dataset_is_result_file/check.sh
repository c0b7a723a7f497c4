cmp -s ClosedMaxset.txt original.bin || { echo "the dataset was changed"; exit 1; }
