#!/usr/bin/env bash
# Time of one X key (the profile fit of the line under the cursor, with its
# drawing and rows), end to end through `korax --play`, as keys_bench.sh times
# the zoom keys: a script of 100 X keys against the same script without them,
# the median of several runs of each, the difference divided by 100. On a
# spectrum of 3,000,000 points with its catalogue open (the cursor is put on a
# line with ]), once with the whole spectrum on screen (every X redraws all of
# it) and once zoomed in on the line; each with the lines found by the fit and
# with one line asked for. The viewer wants 20 ms or less a key.
#
#   bench/profile_key_bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR holds korax and korax-mkspectrum (default build); RUNS defaults to 5.
set -euo pipefail

build=${1:-build}
runs=${2:-5}
source "$(dirname "$0")/end_to_end.sh" "$build"
"$maker" --points 3000000 --start 240000 --step 0.05 --seed 7 --catalog "$work/big.cat" \
    "$work/big.001" >/dev/null

# One case: its label, the keys that set the display up, and the answer of x
# for the number of lines (0: as many as the window shows).
bench_case() {
    local label=$1 display=$2 lines=$3
    local setup="type $work/big.001
enter
keys C
type big.cat
enter
keys x
type
type
type $lines
type
keys $display"
    local finish="enter
keys Y
type -1"
    printf '%s\n%s\n' "$setup" "$finish" >"$work/base.play"
    {
        echo "$setup"
        # A fit that was refused would cost less than one drawn: the run must
        # show a fit after every X.
        for _ in $(seq 100); do printf 'keys X\nexpect FWHM L\n'; done
        echo "$finish"
    } >"$work/keys.play"
    local base keys
    read -r base keys < <(time_scripts "$work/base.play" "$work/keys.play" "$runs")
    awk -v l="$label" -v b="$base" -v k="$keys" 'BEGIN {
        printf "%-44s without keys: %5d ms, with 100 X: %5d ms, per key: %5.1f ms\n", l, b, k, (k - b) / 100
    }'
}

# Twelve Q show the whole spectrum; ] puts the cursor on the first line in view.
bench_case "3,000,000 points on screen, lines auto" "QQQQQQQQQQQQ]" 0
bench_case "3,000,000 points on screen, one line" "QQQQQQQQQQQQ]" 1
bench_case "zoomed in on the line, lines auto" "]EEEE" 0
bench_case "zoomed in on the line, one line" "]EEEE" 1
