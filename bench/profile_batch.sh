#!/usr/bin/env bash
# The cost of --profile in a campaign: `korax peaks` over N spectra of 300,000
# points with the settings of the batch row of bench/run (smoothing 25,
# baseline 301, fitting width 7, cutoff 5 noise deviations, every processor),
# with and without `--profile lorentz2`, the two alternating call by call.
# Prints the median of each, their ratio (the goal: at most 3) and the lines
# found and refined. The ratio does not depend on N (each file is its own job);
# bench/run's batch row takes 200. Then the same for one spectrum of 3,000,000
# points with 3,500 lines, whose fits share the processors among them.
#
#   bench/profile_batch.sh [BUILD_DIR] [FILES] [ROUNDS]
#
# FILES defaults to 20, ROUNDS (calls per side) to 3.
set -euo pipefail

build=${1:-build}
files=${2:-20}
rounds=${3:-3}
source "$(dirname "$0")/end_to_end.sh" "$build"
mkdir -p "$work/campaign" "$work/plain" "$work/profile"
for ((i = 1; i <= files; i++)); do
    # The seeds of bench/run's campaign.
    "$maker" --points 300000 --start 240000 --step 0.05 --seed $((100 + i)) \
        "$work/campaign/$(printf 'scan%03d.001' "$i")" >/dev/null
done
settings=(-j "$(nproc)" --smooth 25 --baseline 301 --nfit 7 --cutoff-sigma 5 --force)

ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }
plain=() profile=()
for ((r = 1; r <= rounds; r++)); do
    t0=$(date +%s%N)
    "$korax" peaks "${settings[@]}" -o "$work/plain" "$work/campaign"/*.001 >"$work/plain.log"
    plain+=("$(ms_since "$t0")")
    t0=$(date +%s%N)
    "$korax" peaks "${settings[@]}" --profile lorentz2 -o "$work/profile" "$work/campaign"/*.001 \
        >"$work/profile.log"
    profile+=("$(ms_since "$t0")")
done
p=$(printf '%s\n' "${plain[@]}" | median)
q=$(printf '%s\n' "${profile[@]}" | median)
lines() { sed -n 's/.*: \([0-9]*\) lines.*/\1/p' "$1" | awk '{ s += $1 } END { print s }'; }
refused() { sed -n 's/.*, \([0-9]*\) refused profile fits.*/\1/p' "$1" | awk '{ s += $1 } END { print s + 0 }'; }
awk -v n="$files" -v p="$p" -v q="$q" -v a="$(lines "$work/plain.log")" \
    -v b="$(lines "$work/profile.log")" -v c="$(refused "$work/profile.log")" 'BEGIN {
    printf "korax peaks over %d spectra of 300000 points: %d ms; with --profile lorentz2: %d ms; ratio %.2f (goal <= 3: %s)\n",
        n, p, q, q / p, q / p <= 3 ? "met" : "MISSED"
    printf "lines: %d found by PEAKFINDER, %d measured by the profile fit, %d refused fits\n", a, b, c
}'

"$maker" --points 3000000 --lines 3500 --seed 7 "$work/large.001" >/dev/null
plain=() profile=()
for ((r = 1; r <= rounds; r++)); do
    t0=$(date +%s%N)
    "$korax" peaks "${settings[@]}" -o "$work/plain" "$work/large.001" >"$work/plain.log"
    plain+=("$(ms_since "$t0")")
    t0=$(date +%s%N)
    "$korax" peaks "${settings[@]}" --profile lorentz2 -o "$work/profile" "$work/large.001" \
        >"$work/profile.log"
    profile+=("$(ms_since "$t0")")
done
p=$(printf '%s\n' "${plain[@]}" | median)
q=$(printf '%s\n' "${profile[@]}" | median)
awk -v p="$p" -v q="$q" -v a="$(lines "$work/plain.log")" -v b="$(lines "$work/profile.log")" 'BEGIN {
    printf "korax peaks on 3000000 points: %d ms; with --profile lorentz2: %d ms; ratio %.2f (goal <= 3: %s)\n",
        p, q, q / p, q / p <= 3 ? "met" : "MISSED"
    printf "lines: %d found by PEAKFINDER, %d measured by the profile fit\n", a, b
}'
