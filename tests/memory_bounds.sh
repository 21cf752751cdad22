#!/usr/bin/env bash
# Peak memory of the viewer on inputs with endless lines: a catalogue opened
# with --catalog whose one line runs for 100 MB, and an assignment file of one
# such line named at D. Each is taken up to its bound (the rest of the
# catalogue line skipped, the assignment file refused), so the run needs about
# the memory of a run without them, never that of the longest line.
#
#   tests/memory_bounds.sh KORAX GNU_TIME
set -uo pipefail
korax=$1
gnu_time=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/korax-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp examples/ocs.001 examples/ocs.cat "$work/"
endless() { head -c 100000000 /dev/zero | tr '\0' x; }
{ cat "$work/ocs.cat"; endless; echo; cat "$work/ocs.cat"; } >"$work/huge.cat"
{ echo '! earlier work'; endless; echo; } >"$work/huge.lin"
echo '! earlier work' >"$work/small.lin"

# One session: open the catalogue (CATALOGUE, LINES read) and name the
# assignment file (LIN, what D says of it, the keys that answer); prints the
# peak in KB.
peak() {
    local catalogue=$1 lines=$2 lin=$3 says=$4 answer=$5
    cat >"$work/memory.play" <<PLAY
type $work/ocs.001
enter
keys C
expect $lines lines  $work/$catalogue
key esc
keys D
type
type
type
type
type
type $lin
expect $says
$answer
enter
keys Y
type -1
PLAY
    "$gnu_time" -f %M -o "$work/peak" "$korax" --play "$work/memory.play" --seed 1 \
        --config none --shots "$work" --catalog "$work/$catalogue" >"$work/out" 2>&1
    local status=$?
    ((status == 0)) || { echo "$catalogue: status $status" >&2; cat "$work/out" >&2; exit 1; }
    cat "$work/peak"
}
plain=$(peak ocs.cat 50 small.lin "small.lin exists with 1 lines" "keys Y") || exit 1
huge=$(peak huge.cat 100 huge.lin "huge.lin: not an assignment file: line 2 is longer" \
    "$(printf 'enter\ntype')") || exit 1
echo "peak memory: $plain KB without the endless lines, $huge KB with them"
# 100 MB lines: anything that held one would need 100000 KB more.
if ((huge > plain + 20000)); then
    echo "the endless lines cost $((huge - plain)) KB" >&2
    exit 1
fi
