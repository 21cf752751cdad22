#!/usr/bin/env bash
# The include check must catch what it is there for: a copy of the tree passes,
# and each breach planted in a copy of its own (a test below the driver
# including the driver, a windowless source reaching the window, a series
# source including the viewer, the store including the window) fails, naming
# the file and the rule.
#
#   tests/layout_rules.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fresh_copy() {
    rm -rf "$work/tree"
    mkdir "$work/tree"
    # Outside a git checkout the check takes every file there is.
    (cd "$src" && tar cf - --exclude=./build\* --exclude=./.git scripts base spectrum window driver \
        input analysis output catalog viewer batch testing $(ls -d series 2>/dev/null)) |
        (cd "$work/tree" && tar xf -)
    mkdir -p "$work/tree/series"
}

fresh_copy
"$work/tree/scripts/check-includes" "$work/tree" >/dev/null ||
    { echo "the tree as it is does not pass"; exit 1; }

status=0
# plant FILE INCLUDE RULE-TEXT: the check must fail and name FILE and RULE-TEXT.
plant() {
    fresh_copy
    printf '#include "%s"\n' "$2" >>"$work/tree/$1"
    local out
    if out=$("$work/tree/scripts/check-includes" "$work/tree" 2>&1); then
        echo "not caught: $1 including $2"
        status=1
    elif [[ $out != *"$1: "*"\"$2\""*"$3"* ]]; then
        echo "caught without naming it: $1 including $2: $out"
        status=1
    fi
}

plant viewer/lookfm_test.cpp driver/startg.h "only driver/ includes driver/"
plant analysis/smooth_test.cpp driver/config_file.h "only driver/ includes driver/"
plant input/pelmo_format.cpp window/window.h "not among its SCREENS"
plant spectrum/store.cpp window/window.h "the store uses only base/"
plant batch/batch.cpp viewer/lookfm.h "batch/ runs without window or viewer"
printf '// a new source\n' >"$work/series.cpp"
fresh_copy
cp "$work/series.cpp" "$work/tree/series/trend.cpp"
printf '#include "viewer/lookfm.h"\n' >>"$work/tree/series/trend.cpp"
if "$work/tree/scripts/check-includes" "$work/tree" >/dev/null 2>&1; then
    echo "not caught: series/ including the viewer"
    status=1
fi

[ $status = 0 ] && echo "the include check catches every planted breach"
exit $status
