#!/usr/bin/env bash
# Time of one viewer key with a plot redraw, end to end through `korax --play`,
# on a fully zoomed-out display: a script of 100 zoom keys (q and Q
# alternating, both redrawing the whole spectrum at full zoom-out) against the
# same script without them. Prints the median of several runs of each and the
# difference divided by 100, for four axes: an ordinary one (3,000,000 points
# in MHz), a step of 1e200, a six-line text file from 0 to 4e20, and an axis
# in Hz (3,000,000 points, 10^12 wide); and the ordinary one again with
# 5,000,000 predicted lines of a catalogue drawn over it. The viewer wants 20 ms
# or less a key on every one of them.
#
#   bench/keys_bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR holds korax and korax-mkspectrum (default build); RUNS defaults to 5.
set -euo pipefail

build=${1:-build}
runs=${2:-5}
source "$(dirname "$0")/end_to_end.sh" "$build"
"$maker" --points 3000000 --start 240000 --step 0.05 --seed 7 "$work/big.001" >/dev/null
"$maker" --points 3000000 --start 0 --step 1e200 --seed 7 "$work/step1e200.001" >/dev/null
"$maker" --points 3000000 --start 1e11 --step 333333.4 --seed 7 "$work/hertz.001" >/dev/null
printf 'Six lines spanning 0 to 4e20\n0 1\n1e20 5\n2e20 2\n3e20 7\n4e20 3\n' >"$work/wide.txt"

# One axis: its label and spectrum file.
bench_axis() {
    local label=$1 file=$2
    # At entry 800 points (or all of a shorter spectrum); twelve Q double the
    # width each time, past the whole spectrum.
    local setup="type $file
enter
keys QQQQQQQQQQQQ"
    local finish="enter
keys Y
type -1"
    printf '%s\n%s\n' "$setup" "$finish" >"$work/base.play"
    {
        echo "$setup"
        for _ in $(seq 50); do echo "keys qQ"; done
        echo "$finish"
    } >"$work/keys.play"
    local base keys
    read -r base keys < <(time_scripts "$work/base.play" "$work/keys.play" "$runs")
    awk -v l="$label" -v b="$base" -v k="$keys" 'BEGIN {
        printf "%-28s without keys: %5d ms, with 100 keys: %5d ms, per key: %5.1f ms\n", l, b, k, (k - b) / 100
    }'
}

bench_axis "MHz, 3,000,000 points" "$work/big.001"
bench_axis "step 1e200, 3,000,000 points" "$work/step1e200.001"
bench_axis "0 to 4e20, 5 points" "$work/wide.txt"
bench_axis "Hz, 3,000,000 points" "$work/hertz.001"
if [[ -x $build/bench/catalog_bench ]]; then
    "$build/bench/catalog_bench" write "$work/lines.cat" 5000000
    play_options=(--catalog "$work/lines.cat")
    bench_axis "MHz, 5,000,000 predictions" "$work/big.001"
fi
