cmp -s error.tmp original.bin || { echo "the dataset was changed"; exit 1; }
