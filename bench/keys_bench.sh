#!/usr/bin/env bash
# Time of one viewer key with a plot redraw, end to end through `korax --play`,
# on a fully zoomed-out 3,000,000-point display: a script of 100 zoom keys
# (q and Q alternating, both redrawing the whole spectrum at full zoom-out)
# against the same script without them. Prints the median of several runs of
# each and the difference divided by 100. The viewer wants 20 ms or less a key.
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
trap 'rm -rf "$work"' EXIT
"$maker" --points 3000000 --start 240000 --step 0.05 --seed 7 "$work/big.001" >/dev/null

# 800 points at entry; twelve Q double the width each time, past the whole spectrum.
setup="type $work/big.001
enter
keys QQQQQQQQQQQQ"
finish="enter
keys Y
type -1"
printf '%s\n%s\n' "$setup" "$finish" >"$work/base.play"
{
    echo "$setup"
    for _ in $(seq 50); do echo "keys qQ"; done
    echo "$finish"
} >"$work/keys.play"

# Milliseconds of one whole run of a script.
run_ms() {
    local start end
    start=$(date +%s%N)
    (cd "$here" && "$korax" --play "$1" --shots "$work/shots" --seed 1 --config none >/dev/null)
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

base=$(for _ in $(seq "$runs"); do run_ms "$work/base.play"; done | median)
keys=$(for _ in $(seq "$runs"); do run_ms "$work/keys.play"; done | median)
awk -v b="$base" -v k="$keys" 'BEGIN {
    printf "without keys: %d ms, with 100 keys: %d ms, per key: %.1f ms\n", b, k, (k - b) / 100
}'
