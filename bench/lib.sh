# Shared helpers of the benchmark scripts (sourced, not run).
#
# Environment:
#   QUIVREL_DATA_SRC    folder of the compressed datasets (*.bin.xz);
#                       default: ../shared/data beside the repository
#   QUIVREL_BENCH_DATA  scratch folder for the decompressed and generated
#                       datasets; default: ${TMPDIR:-/tmp}/quivrel-bench-data
#   QUIVREL_GEN         quivrel-gen binary for the datasets of generated.txt;
#                       default: build/tools/quivrel-gen of the repository

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO_DIR=$(cd "$BENCH_DIR/.." && pwd)
DATA_SRC=${QUIVREL_DATA_SRC:-$REPO_DIR/../shared/data}
DATA_DIR=${QUIVREL_BENCH_DATA:-${TMPDIR:-/tmp}/quivrel-bench-data}
TIME_BIN=/usr/bin/time
GEN_LIST=$BENCH_DIR/generated.txt
GEN_BIN=${QUIVREL_GEN:-$REPO_DIR/build/tools/quivrel-gen}

die() { echo "$(basename "$0"): $*" >&2; exit 2; }

check_tools() {
    [ -x "$TIME_BIN" ] || die "$TIME_BIN is missing (apt-get install -y time)"
    command -v xz > /dev/null || die "xz is missing (apt-get install -y xz-utils)"
}

# Prints the rows of a rows file as "dataset support itemcount runs", with
# `runs` empty when the row does not give it.
read_rows() {
    sed -e 's/#.*//' "$1" | awk 'NF >= 3 { print $1, $2, $3, (NF >= 4 ? $4 : "") }'
}

# The line of generated.txt that describes dataset NAME ("name bytes sha256
# quivrel-gen arguments"); fails when NAME is not a generated dataset.
generated_entry() {
    sed -e 's/#.*//' "$GEN_LIST" | awk -v n="$1" '$1 == n { print; found = 1 } END { exit !found }'
}

# Whether FILE has the size BYTES and the sha256 SUM.  A file that passed is
# noted in FILE.sha256 with its size and modification time, so that a large
# file is hashed once, not on every run.
generated_ok() {
    local file=$1 bytes=$2 sum=$3 stamp
    [ -f "$file" ] || return 1
    [ "$(stat -c %s "$file")" = "$bytes" ] || return 1
    stamp="$(stat -c '%s %Y' "$file") $sum"
    [ -f "$file.sha256" ] && [ "$(cat "$file.sha256")" = "$stamp" ] && return 0
    [ "$(sha256sum < "$file" | cut -d' ' -f1)" = "$sum" ] || return 1
    echo "$stamp" > "$file.sha256"
}

# Makes the generated dataset NAME in the data folder unless a file of the
# right size and checksum is there already.  A result with another checksum
# (another generator, or a changed one) is set aside as NAME.bin.wrong and
# the benchmark stops: its rows would not be the rows of the table.
ensure_generated() {
    local name=$1 entry bytes sum args dst="$DATA_DIR/$1.bin"
    entry=$(generated_entry "$name") || die "$name is not a dataset of $GEN_LIST"
    read -r _ bytes sum args <<< "$entry"
    generated_ok "$dst" "$bytes" "$sum" && return 0
    [ -x "$GEN_BIN" ] || die "no generator $GEN_BIN (build it: cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j2 --target quivrel-gen; or set QUIVREL_GEN)"
    mkdir -p "$DATA_DIR" || die "cannot make $DATA_DIR"
    rm -f "$dst.sha256"
    echo "generating $dst: quivrel-gen $args" >&2
    # quivrel-gen prints the item count on stdout: keep it off the caller's.
    # $args is split into words on purpose.
    # shellcheck disable=SC2086
    "$GEN_BIN" $args "$dst" > /dev/null || die "quivrel-gen failed for $name"
    [ -f "$dst" ] || die "$GEN_BIN made no $dst"
    if ! generated_ok "$dst" "$bytes" "$sum"; then
        mv -f "$dst" "$dst.wrong"
        die "$name came out with $(stat -c %s "$dst.wrong") bytes, sha256 $(sha256sum < "$dst.wrong" | cut -d' ' -f1); expected $bytes bytes, sha256 $sum (see $dst.wrong)"
    fi
}

# Path of the dataset NAME, made on first use: generated when generated.txt
# lists it, else unpacked from NAME.bin.xz.  The data never goes into the
# repository.
dataset_path() {
    local name=$1 src="$DATA_SRC/$1.bin.xz" dst="$DATA_DIR/$1.bin"
    if generated_entry "$name" > /dev/null; then
        ensure_generated "$name"
        echo "$dst"
        return
    fi
    if [ ! -f "$dst" ]; then
        [ -f "$src" ] || die "no dataset $src"
        mkdir -p "$DATA_DIR"
        xz -dc "$src" > "$dst.part" && mv "$dst.part" "$dst" || die "cannot unpack $src"
    fi
    echo "$dst"
}

# One run of BIN on a row in the empty folder DIR (ClosedMaxset.txt and
# error.tmp land there).  Leaves stdout in DIR/stdout, the -v report of
# /usr/bin/time in DIR/time.txt, and prints "wall_seconds peak_rss_kib
# cpu_seconds" (cpu = user + system time of the process).  With a sixth
# argument the run is pinned to that CPU.
run_once() {
    local bin=$1 dir=$2 data=$3 support=$4 items=$5 cpu=${6:-} t0 t1 rc pin=()
    [ -n "$cpu" ] && pin=(taskset -c "$cpu")
    mkdir -p "$dir"
    t0=$(date +%s%N)
    (cd "$dir" && "${pin[@]}" "$TIME_BIN" -v -o time.txt "$bin" "$data" "$support" "$items" > stdout 2> stderr)
    rc=$?
    t1=$(date +%s%N)
    [ $rc -eq 0 ] || die "$bin $data $support $items exited with $rc (see $dir)"
    awk -v a="$t0" -v b="$t1" -F': ' '
        /Maximum resident set size/ { rss = $2 }
        /User time \(seconds\)/ { cpu += $2 }
        /System time \(seconds\)/ { cpu += $2 }
        END { printf "%.3f %d %.2f\n", (b - a) / 1e9, rss, cpu }' "$dir/time.txt"
}

# Median of the numbers given as arguments.
median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "nan"; exit }
        if (NR % 2) printf "%.3f\n", v[(NR + 1) / 2]
        else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# A run's output with its time figures blanked, for comparing two builds.
mask_times() {
    sed -E -e 's/[0-9]+\.[0-9]+ seconds/T seconds/g' -e 's/\([0-9]+\.[0-9]+ sec\)/(T sec)/g' "$1"
}
