if [ "$(id -u)" = 0 ]; then echo "root writes everywhere: case skipped"; exit 77; fi
: > error.tmp
chmod a-w .
