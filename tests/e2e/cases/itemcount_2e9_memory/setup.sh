[ -x /usr/bin/time ] || { echo "no /usr/bin/time (package time): case skipped"; exit 77; }
cp "$CASE_DIR/../../../../data/sample.bin" data.bin
