# Shared helpers of the benchmark scripts (sourced, not run).
#
# Environment:
#   QUIVREL_DATA_SRC    folder of the compressed datasets (*.bin.xz);
#                       default: ../shared/data beside the repository
#   QUIVREL_BENCH_DATA  scratch folder for the decompressed datasets;
#                       default: ${TMPDIR:-/tmp}/quivrel-bench-data

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO_DIR=$(cd "$BENCH_DIR/.." && pwd)
DATA_SRC=${QUIVREL_DATA_SRC:-$REPO_DIR/../shared/data}
DATA_DIR=${QUIVREL_BENCH_DATA:-${TMPDIR:-/tmp}/quivrel-bench-data}
TIME_BIN=/usr/bin/time

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

# Path of the decompressed dataset, unpacking it on first use.  The data
# never goes into the repository.
dataset_path() {
    local name=$1 src="$DATA_SRC/$1.bin.xz" dst="$DATA_DIR/$1.bin"
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
# cpu_seconds" (cpu = user + system time of the process).
run_once() {
    local bin=$1 dir=$2 data=$3 support=$4 items=$5 t0 t1 rc
    mkdir -p "$dir"
    t0=$(date +%s%N)
    (cd "$dir" && "$TIME_BIN" -v -o time.txt "$bin" "$data" "$support" "$items" > stdout 2> stderr)
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
