#!/usr/bin/env bash
# The cost of --profile counted in instructions, which do not move with the
# load of a shared machine as its times do: `korax peaks` under valgrind's
# callgrind over the first FILES spectra of the campaign of profile_batch.sh
# (the same seeds and settings), on one processor (each file of the campaign
# has one), with and without `--profile lorentz2`, and their ratio (the goal of the
# times: at most 3). Takes about a minute for the default two files.
#
#   bench/profile_instructions.sh [BUILD_DIR] [FILES]
set -euo pipefail

build=${1:-build}
files=${2:-2}
for tool in valgrind taskset; do
    command -v "$tool" >/dev/null || { echo "bench/profile_instructions.sh needs $tool" >&2; exit 1; }
done
source "$(dirname "$0")/end_to_end.sh" "$build"
mkdir -p "$work/campaign" "$work/out"
for ((i = 1; i <= files; i++)); do
    "$maker" --points 300000 --start 240000 --step 0.05 --seed $((100 + i)) \
        "$work/campaign/$(printf 'scan%03d.001' "$i")" >/dev/null
done
settings=(-j 1 --smooth 25 --baseline 301 --nfit 7 --cutoff-sigma 5 --force)
count() {
    taskset -c 0 valgrind --tool=callgrind --callgrind-out-file=/dev/null "$korax" peaks "${settings[@]}" "$@" \
        -o "$work/out" "$work/campaign"/*.001 2>&1 >/dev/null | sed -n 's/.*Collected : //p'
}
plain=$(count)
profile=$(count --profile lorentz2)
awk -v n="$files" -v p="$plain" -v q="$profile" 'BEGIN {
    printf "korax peaks over %d spectra of 300000 points: %.0f million instructions; with --profile lorentz2: %.0f million; ratio %.2f\n",
        n, p / 1e6, q / 1e6, q / p
}'
