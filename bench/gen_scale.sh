#!/usr/bin/env bash
# Makes the generated benchmark datasets listed in bench/generated.txt (the
# scale series C10T2.5S4I1.25 with 10K, 100K, 1M and 10M sequences) in the
# benchmark data folder, with quivrel-gen and a fixed seed.  A file already
# there with the listed size and sha256 is kept; any other is made again.
# run.sh and compare.sh make a row's dataset on first use the same way; this
# script makes them ahead of a run (the 10M file, about 1.5 GB, takes a few
# minutes).
#
# Usage: bench/gen_scale.sh [-g GEN] [NAME ...]
#   -g GEN  quivrel-gen binary (default: $QUIVREL_GEN, else
#           build/tools/quivrel-gen of the repository)
#   NAME    only these datasets (default: every dataset of generated.txt)
# Prints the path of each dataset.  See bench/lib.sh for QUIVREL_BENCH_DATA.
set -uo pipefail
source "$(dirname "$0")/lib.sh"

while getopts "g:" opt; do
    case $opt in
        g) GEN_BIN=$OPTARG ;;
        *) die "usage: bench/gen_scale.sh [-g GEN] [NAME ...]" ;;
    esac
done
shift $((OPTIND - 1))
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    mapfile -t names < <(sed -e 's/#.*//' "$GEN_LIST" | awk 'NF >= 3 { print $1 }')
fi
for name in "${names[@]}"; do
    dataset_path "$name" || exit 2
done
