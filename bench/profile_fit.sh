#!/usr/bin/env bash
# The profile fit on synthetic second-derivative lines with known centres, beside
# the O key's measurement and a reference fit by scipy's curve_fit on the very
# same lines: writes the lines, fits them both ways, runs the reference
# (bench/profile_fit_peer.py), prints the table of every cell against the goals
# and then the time of one fit. Takes about 3 minutes on a 2-core machine with
# the default 200 lines a cell.
#
#   bench/profile_fit.sh [LINES]
#
# Environment: KORAX_BUILD_DIR (default build, configured in Release when
# missing), KORAX_BENCH_PYTHON (a python3 with numpy and scipy;
# KORAX_BENCH_PEERS=1 scripts/install-deps installs them), KORAX_BENCH_KEEP (a
# folder to keep the lines and the results in instead of a temporary one).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${KORAX_BUILD_DIR:-$here/build}
lines=${1:-200}
[[ $lines =~ ^[1-9][0-9]*$ ]] || { echo "LINES must be a positive number" >&2; exit 64; }

python=""
for candidate in ${KORAX_BENCH_PYTHON:-} python3 /usr/bin/python3; do
    if command -v "$candidate" >/dev/null 2>&1 &&
        "$candidate" -c 'import numpy, scipy' >/dev/null 2>&1; then
        python=$candidate
        break
    fi
done
if [[ -z $python ]]; then
    echo "bench/profile_fit.sh: no python3 with numpy and scipy was found." >&2
    echo "KORAX_BENCH_PEERS=1 scripts/install-deps installs them." >&2
    exit 1
fi

if [[ ! -f $build/CMakeCache.txt ]]; then
    echo "configuring $build (Release)" >&2
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
else
    cmake -S "$here" -B "$build" >/dev/null
fi
cmake --build "$build" --target profile_fit_bench -j"$(nproc)" >/dev/null
bench=$build/bench/profile_fit_bench

if [[ -n ${KORAX_BENCH_KEEP:-} ]]; then
    work=$KORAX_BENCH_KEEP
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi

echo "fitting $lines lines a cell in $work" >&2
"$bench" lines "$work" "$lines"
echo "the reference fits" >&2
"$python" "$here/bench/profile_fit_peer.py" "$work"
"$bench" table "$work"
echo
"$bench" time
