#!/usr/bin/env bash
# The difference of two spectra against an independent computation: two
# spectra of POINTS points (3,000,000 by default) on different grids, the
# reference covering only part of the main one, made by korax-mkspectrum;
# `korax diff` with k fitted and with k given, and numpy (bench/diff_peer.py:
# numpy.interp and numpy.linalg.lstsq on the same data) must give the same
# integers at every point. Then the viewer on the same pair: the spectrum
# saved before the difference mode and after it was on (fitted, typed, off)
# must be the same file, and the difference taken with ! and saved must be
# the file `korax diff` writes.
#
#   bench/diff_check.sh [BUILD_DIR] [POINTS]
#
# KORAX_BENCH_PYTHON names a python3 with numpy (KORAX_BENCH_PEERS=1
# scripts/install-deps installs it). About a minute on a 2-core machine.
set -euo pipefail

build=${1:-build}
points=${2:-3000000}
source "$(dirname "$0")/end_to_end.sh" "$build"

python=""
for candidate in ${KORAX_BENCH_PYTHON:-} python3 /usr/bin/python3; do
    if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -c 'import numpy' 2>/dev/null; then
        python=$candidate
        break
    fi
done
[[ -n $python ]] || {
    echo "no python3 with numpy: KORAX_BENCH_PEERS=1 scripts/install-deps installs it" >&2
    exit 1
}

# Another step and start, and 30 % fewer points: the reference ends inside
# the main spectrum.
reference_points=$((points * 7 / 10))
"$maker" --points "$points" --start 240000 --step 0.05 --seed 7 "$work/a.001" >/dev/null
"$maker" --points "$reference_points" --start 240003.3171 --step 0.0498731 --seed 8 \
    "$work/b.001" >/dev/null

failed=0
"$korax" diff --format text "$work/a.001" "$work/b.001" -o "$work/fitted.txt" | tee "$work/said"
k=$(sed -n 's/.*k = \([-0-9.e+]*\) fitted.*/\1/p' "$work/said")
"$korax" diff --format text --k 1.2345 "$work/a.001" "$work/b.001" -o "$work/typed.txt" >/dev/null
"$python" "$(dirname "$0")/diff_peer.py" "$work/a.001" "$work/b.001" "$work/fitted.txt" "$k" \
    1.2345 "$work/typed.txt" || failed=1

# The viewer: whole spectrum shown (k fitted over all of it, as korax diff
# fits it), the mode on and off, then taken.
zoom_out=$(printf 'Q%.0s' $(seq 24))
cat >"$work/view.play" <<PLAY
type $work/a.001
enter
keys M
type before.001
enter
keys $zoom_out
keys <
type b.001
enter
keys ~
keys :
type 2.5
keys :
type
keys ~
keys M
type after.001
enter
keys ~!
keys M
type taken.001
enter
enter
keys Y
type -1
PLAY
(cd "$here" && "$korax" --play "$work/view.play" --shots "$work/shots" --seed 1 --config none >/dev/null)
"$korax" diff "$work/a.001" "$work/b.001" -o "$work/diff.001" >/dev/null
if cmp -s "$work/before.001" "$work/after.001"; then
    echo "the spectrum in work is unchanged by the difference mode until !"
else
    echo "FAILED: the difference mode changed the spectrum in work" >&2
    failed=1
fi
if cmp -s "$work/taken.001" "$work/diff.001"; then
    echo "the difference taken in the viewer and saved is the file korax diff writes"
else
    echo "FAILED: the viewer's difference differs from korax diff's" >&2
    failed=1
fi
exit $failed
