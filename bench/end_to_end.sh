# Sourced by the benchmarks that time korax end to end: the programs of a
# build folder, a work folder removed at exit, and the timing of a key script
# against the same script without its keys.
#
#   source "$(dirname "$0")/end_to_end.sh" BUILD_DIR
#
# Sets here (the source tree), korax, maker (korax-mkspectrum) and work; extra
# options of `korax --play` go into the array play_options.

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
korax=$(cd "$1" && pwd)/korax
maker=$(cd "$1" && pwd)/korax-mkspectrum
for program in "$korax" "$maker"; do
    [[ -x $program ]] || { echo "missing $program: build the korax and korax-mkspectrum targets" >&2; exit 1; }
done

work=$(mktemp -d)
# Timed with the default settings, never those the operator keeps.
export XDG_STATE_HOME="$work/state"
trap 'rm -rf "$work"' EXIT
play_options=()

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Milliseconds of one whole run of a script.
run_ms() {
    local start end
    start=$(date +%s%N)
    (cd "$here" && "$korax" --play "$1" --shots "$work/shots" --seed 1 --config none "${play_options[@]}" >/dev/null)
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}

# "BASE KEYS": the medians of RUNS runs of each script.
time_scripts() {
    local base=$1 keys=$2 runs=$3
    echo "$(for _ in $(seq "$runs"); do run_ms "$base"; done | median)" \
        "$(for _ in $(seq "$runs"); do run_ms "$keys"; done | median)"
}
