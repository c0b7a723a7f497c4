#!/usr/bin/env bash
# Runs one end-to-end case: the real quivrel binary in a fresh temporary
# directory, compared with the case's expected files.
#
# usage: run_case.sh CASE_DIR QUIVREL QUIVREL_CONVERT
#
# A case directory holds:
#   args              the command-line arguments, shell words (e.g. "data.bin 0.5 3")
#   data.txt          optional: a dataset in text form, converted to data.bin
#   setup.sh          optional: run in the temporary directory before quivrel
#                     (for files the text form cannot express); it gets
#                     $QUIVREL_CONVERT and $CASE_DIR; exit status 77 skips
#                     the case (it passes, with the message setup.sh printed)
#                     where this machine cannot run it
#   run.sh            optional: run in the temporary directory in place of
#                     the plain invocation, with the words of args as its
#                     arguments and $QUIVREL set to the binary; its standard
#                     output, standard error and exit status count as
#                     quivrel's (for redirections, limits and signals)
#   check.sh          optional: run in the temporary directory after quivrel,
#                     for properties that no expected file states
# run.sh and check.sh can call `mask FILE` for the file with the figures
# masked as below.
#   expected/status   the exit status as a shell sees it
#   expected/stdout, expected/stderr, expected/ClosedMaxset.txt,
#   expected/error.tmp
#                     compared when present (stderr only when the case has
#                     it: a new case is not given one by QUIVREL_UPDATE); "NAME.absent" instead says that
#                     the run must not leave that file.
# Time figures ("1.234 seconds", "(1.234 sec)") and the closing summary's
# peak memory ("peak memory 3.1 MB") are masked on both sides.
# With QUIVREL_UPDATE=1 the expected files are rewritten from the run.
set -u
case_dir=$(cd "$1" && pwd)
quivrel=$(realpath "$2")
export QUIVREL=$quivrel
export QUIVREL_CONVERT=$(realpath "$3")
export CASE_DIR=$case_dir

# The masking of the time and memory figures; exported, so that a case's
# run.sh that compares runs of its own masks them the same way.
mask() {
    sed -E -e 's/[0-9]+\.[0-9]{3} seconds/T seconds/g' \
           -e 's/\([0-9]+\.[0-9]{3} sec\)/(T sec)/g' \
           -e 's/peak memory [0-9.]+ MB/peak memory M MB/g' "$1"
}
export -f mask

work=$(mktemp -d "${TMPDIR:-/tmp}/quivrel-e2e.XXXXXX")
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 2

if [ -f "$case_dir/data.txt" ]; then
    "$QUIVREL_CONVERT" tobin "$case_dir/data.txt" data.bin || { echo "cannot convert data.txt"; exit 2; }
fi
if [ -f "$case_dir/setup.sh" ]; then
    bash "$case_dir/setup.sh"
    setup_status=$?
    if [ "$setup_status" = 77 ]; then
        echo "skipped: $(basename "$case_dir")"
        exit 0
    fi
    [ "$setup_status" = 0 ] || { echo "setup.sh failed"; exit 2; }
fi

read -r -a args < "$case_dir/args" || true
if [ -f "$case_dir/run.sh" ]; then
    bash "$case_dir/run.sh" "${args[@]}" > stdout.actual 2> stderr.actual
else
    "$quivrel" "${args[@]}" > stdout.actual 2> stderr.actual
fi
status=$?

failed=0
if [ "${QUIVREL_UPDATE:-0}" = 1 ]; then
    mkdir -p "$case_dir/expected"
    echo "$status" > "$case_dir/expected/status"
    mask stdout.actual > "$case_dir/expected/stdout"
    [ -f "$case_dir/expected/stderr" ] && mask stderr.actual > "$case_dir/expected/stderr"
    for f in ClosedMaxset.txt error.tmp; do
        rm -f "$case_dir/expected/$f" "$case_dir/expected/$f.absent"
        if [ -f "$f" ]; then mask "$f" > "$case_dir/expected/$f"; else : > "$case_dir/expected/$f.absent"; fi
    done
    echo "updated $case_dir/expected"
else
    expected_status=$(cat "$case_dir/expected/status")
    if [ "$status" != "$expected_status" ]; then
        echo "exit status: expected $expected_status, got $status"
        failed=1
    fi
    for f in stdout stderr ClosedMaxset.txt error.tmp; do
        actual=$f
        [ "$f" = stdout ] && actual=stdout.actual
        [ "$f" = stderr ] && actual=stderr.actual
        if [ -f "$case_dir/expected/$f" ]; then
            if [ ! -f "$actual" ]; then
                echo "$f: missing"
                failed=1
            elif ! diff -u <(mask "$case_dir/expected/$f") <(mask "$actual") > diff.out; then
                echo "$f differs:"
                head -n 60 diff.out
                failed=1
            fi
        elif [ -f "$case_dir/expected/$f.absent" ] && [ -e "$actual" ]; then
            echo "$f: must not exist, but the run left it"
            failed=1
        fi
    done
fi
if [ -s stderr.actual ]; then
    echo "stderr:"
    head -n 40 stderr.actual
fi
if [ -f "$case_dir/check.sh" ] && [ "${QUIVREL_UPDATE:-0}" != 1 ]; then
    bash "$case_dir/check.sh" || { echo "check.sh failed"; failed=1; }
fi
exit $failed
