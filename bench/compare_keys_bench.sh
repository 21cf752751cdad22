#!/usr/bin/env bash
# Time of the viewer's keys with a reference spectrum shown and in the
# difference mode, end to end through `korax --play`, as keys_bench.sh times
# the plain keys: two spectra of 3,000,000 points on different grids (another
# step and start), the whole spectrum shown; a script of 500 keys (750 in the
# last row: loading two such spectra takes long enough for its variation to
# swamp fewer) against the same script without them, the median of several
# runs of each, and the difference divided by the number of keys. Wanted: 5 ms
# or less a key with the reference shown, 10 ms or less in the difference mode.
#
#   bench/compare_keys_bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR holds korax and korax-mkspectrum (default build); RUNS defaults to 5.
set -euo pipefail

build=${1:-build}
runs=${2:-5}
source "$(dirname "$0")/end_to_end.sh" "$build"
"$maker" --points 3000000 --start 240000 --step 0.05 --seed 7 "$work/main.001" >/dev/null
"$maker" --points 3000000 --start 239999.987 --step 0.04985 --seed 8 "$work/ref.001" >/dev/null

# One row: its label, what the script does first (after the reference is
# open and the whole spectrum shown), the script lines of a few keys (two
# unless COUNT says otherwise), repeated 250 times.
bench_keys() {
    local label=$1 before=$2 pair=$3 count=${4:-2}
    local setup="type $work/main.001
enter
keys QQQQQQQQQQQQQQQQQQQQQQQQ
keys <
type ref.001
enter
$before"
    local finish="enter
keys Y
type -1"
    printf '%s\n%s\n' "$setup" "$finish" >"$work/base.play"
    {
        echo "$setup"
        for _ in $(seq 250); do echo "$pair"; done
        echo "$finish"
    } >"$work/keys.play"
    local base keys
    read -r base keys < <(time_scripts "$work/base.play" "$work/keys.play" "$runs")
    awk -v l="$label" -v b="$base" -v k="$keys" -v n=$((250 * count)) 'BEGIN {
        printf "%-44s without keys: %5d ms, with %d keys: %5d ms, per key: %5.1f ms\n", l, b, n, k, (k - b) / n
    }'
}

echo "reference shown:"
bench_keys "  q and Q (zoom at the whole spectrum)" "" "keys qQ"
bench_keys "  W and Z (the vertical scale)" "" "keys WZ"
bench_keys "  PGUP and PGDN (the reference's scale)" "" $'key pgup\nkey pgdn'
bench_keys "  up and down (the reference moved)" "" $'key up\nkey down'
bench_keys "  / (its scale fitted to the trace shown)" "" "keys //"
echo "difference mode:"
bench_keys "  q and Q (zoom at the whole spectrum)" "keys ~" "keys qQ"
bench_keys "  W and Z (the vertical scale)" "keys ~" "keys WZ"
bench_keys "  / (k fitted over the points shown)" "keys ~" "keys //"
bench_keys "  : (k typed) and / (k fitted)" "keys ~" $'keys :\ntype 1.5\nkeys /'
bench_keys "  ~ and ~ (the mode off and on)" "keys ~" "keys ~~"
bench_keys "  ! and U (taken, and undone), then ~" "keys ~" "keys !U~" 3
