#!/usr/bin/env bash
# Two sessions assigning into one assignment file at the same time: each of 20
# rounds starts two `korax --play` runs that assign 40 lines each (their own
# catalogues, frequencies interleaved) into one fresh file, and every record
# must be in it exactly once afterwards.
#
#   tests/assign_race.sh KORAX
set -uo pipefail
korax=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/korax-race.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp examples/ocs.001 "$work/ocs.001"

# Session A's lines at 240100, 240105, ...; B's 2.5 MHz above each.
for s in a b; do
    offset=0
    [[ $s == b ]] && offset=2.5
    for k in $(seq 1 40); do
        j=$k
        [[ $s == b ]] && j=$((k + 40))
        freq=$(awk "BEGIN { printf \"%.4f\", 240100 + 5 * ($k - 1) + $offset }")
        printf '%13s%8.4f%8.4f%2d%10.4f%3d%7d%4d%2d%2d%2d      %2d%2d%2d\n' \
            "$freq" 0.01 -3 3 1.0 3 99001 303 $((j % 90 + 1)) $((j / 90)) $((j % 90 + 1)) \
            $((j % 90)) $((j / 90)) $((j % 90))
    done >"$work/$s.cat"
    {
        echo "type $work/ocs.001"
        echo "enter"
        # The cursor below the first line: one ] reaches it.
        echo "keys D"
        echo "type"
        echo "type"
        echo "type 0.01"
        echo "type"
        echo "type"
        echo "type race.lin"
        echo "expect race.lin exists with"
        echo "keys Y"
        for _ in $(seq 1 40); do
            echo "keys ]9T"
            echo "expect Assigned in"
        done
        echo "enter"
        echo "keys Y"
        echo "type -1"
    } >"$work/$s.play"
done

failed=0
for round in $(seq 1 20); do
    printf '! round %d\r\n' "$round" >"$work/race.lin"
    pids=()
    for s in a b; do
        (cd "$work" && "$korax" --play "$s.play" --seed 1 --config none --shots "$work" \
            --catalog "$work/$s.cat" >"$work/$s.out" 2>&1) &
        pids+=($!)
    done
    for i in 0 1; do
        if ! wait "${pids[$i]}"; then
            echo "round $round: session $i failed" >&2
            cat "$work/a.out" "$work/b.out" >&2
            failed=1
        fi
    done
    records=$(grep -c '^ ' "$work/race.lin")
    distinct=$(cut -c1-36 "$work/race.lin" | grep '^ ' | sort -u | wc -l)
    if [[ $records != 80 || $distinct != 80 ]]; then
        echo "round $round: $records records, $distinct distinct, expected 80" >&2
        failed=1
    fi
    ((failed)) && break
done
((failed)) || echo "20 rounds: 80 records each, every one exactly once"
exit $failed
