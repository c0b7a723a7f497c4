# Sourced by the setup.sh of the sparse-file cases: makes data.bin a sparse
# file of SIZE bytes whose first bytes are WORDS (via rawbin.py), or exits with
# 77 (skip) where the filesystem of the working directory has no sparse files.
# usage: make_sparse SIZE [WORD...]
#        make_sparse SIZE WORD... -- TAILWORD...   (TAILWORDs end the file)
make_sparse() {
    local size=$1
    shift
    # A probe first, so that a filesystem without holes never gets gigabytes
    # of zeros written to it.
    truncate -s 64M sparse.probe || exit 77
    local blocks
    blocks=$(stat -c %b sparse.probe)
    rm -f sparse.probe
    if [ "$blocks" -gt 2048 ]; then
        echo "no sparse files on this filesystem: case skipped"
        exit 77
    fi
    local head=() tail=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do head+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    tail=("$@")
    : > data.bin
    if [ ${#head[@]} -gt 0 ]; then
        python3 "$CASE_DIR/../../rawbin.py" data.bin "${head[@]}" || exit 1
    fi
    truncate -s "$size" data.bin || exit 1
    if [ ${#tail[@]} -gt 0 ]; then
        python3 "$CASE_DIR/../../rawbin.py" tail.bin "${tail[@]}" || exit 1
        local bytes
        bytes=$(stat -c %s tail.bin)
        dd if=tail.bin of=data.bin bs=1 seek=$(( $(stat -c %s data.bin) - bytes )) \
            conv=notrunc status=none || exit 1
        rm -f tail.bin
    fi
}
