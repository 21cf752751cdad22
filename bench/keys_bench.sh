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
here=$(cd "$(dirname "$0")/.." && pwd)
korax=$(cd "$build" && pwd)/korax
maker=$(cd "$build" && pwd)/korax-mkspectrum
for program in "$korax" "$maker"; do
    [[ -x $program ]] || { echo "missing $program: build the korax and korax-mkspectrum targets" >&2; exit 1; }
done

work=$(mktemp -d)
# Timed with the default settings, never those the operator keeps.
export XDG_STATE_HOME="$work/state"
trap 'rm -rf "$work"' EXIT
"$maker" --points 3000000 --start 240000 --step 0.05 --seed 7 "$work/big.001" >/dev/null
"$maker" --points 3000000 --start 0 --step 1e200 --seed 7 "$work/step1e200.001" >/dev/null
"$maker" --points 3000000 --start 1e11 --step 333333.4 --seed 7 "$work/hertz.001" >/dev/null
printf 'Six lines spanning 0 to 4e20\n0 1\n1e20 5\n2e20 2\n3e20 7\n4e20 3\n' >"$work/wide.txt"

# Milliseconds of one whole run of a script.
run_ms() {
    local start end
    start=$(date +%s%N)
    (cd "$here" && "$korax" --play "$1" --shots "$work/shots" --seed 1 --config none "${play_options[@]}" >/dev/null)
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}

play_options=()

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

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
    base=$(for _ in $(seq "$runs"); do run_ms "$work/base.play"; done | median)
    keys=$(for _ in $(seq "$runs"); do run_ms "$work/keys.play"; done | median)
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
