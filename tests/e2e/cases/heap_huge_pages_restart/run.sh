# Counts the program starts of each run (the loader's debug output names
# each one) and checks that a run that started again gives what a run that
# did not gives: the same standard output and ClosedMaxset.txt (with the
# figures masked by run_case.sh's `mask`).
starts() { grep -h "initialize program" "$1".* | wc -l; rm -f "$1".*; }
run() {  # name, then the environment's assignments (on top of one without either variable)
    local name=$1
    shift
    env -u GLIBC_TUNABLES -u LD_PRELOAD "$@" LD_DEBUG=files LD_DEBUG_OUTPUT="ld.$name" "$QUIVREL" --quiet "${ARGS[@]}" > "out.$name" || exit
    echo "$name: $(starts "ld.$name") start(s)"
    mask "out.$name" > "out.$name.masked" || exit
    mask ClosedMaxset.txt > "result.$name.masked" || exit
}
ARGS=("$@")
run default
run setting_0 GLIBC_TUNABLES=glibc.malloc.hugetlb=0
run other_setting GLIBC_TUNABLES=glibc.malloc.perturb=0
run preloaded LD_PRELOAD=
for name in setting_0 other_setting preloaded; do
    cmp -s out.default.masked "out.$name.masked" && cmp -s result.default.masked "result.$name.masked" ||
        echo "$name: output differs from the default run"
done
ARGS=(small.bin "${ARGS[@]:1}")
run small
cat out.default
