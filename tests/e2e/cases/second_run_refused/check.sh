grep -q '^quivrel run in progress (pid [0-9]*)' during.txt ||
    { echo "the second run touched the first one's error.tmp: $(cat during.txt)"; exit 1; }
