#!/usr/bin/env bash
# The goals of the series view and of `korax assign` on the symmetric top of
# `korax-mkspectrum --top` at 3,000,000 points (members J = 10-60, K = 0-20,
# o-c reaching five line widths, among 2000 lines of other species), judged
# against its true lines:
#
#   1. the series view: a series assigned in 12 keys from the open catalogue
#      (J ENTER X T } X T } X T A Y) through `korax --play`: members written,
#      wrong ones (more than a quarter of a line width from the true line),
#      and the time of the whole session;
#   2. `korax assign --all`: the 1016 predictions fitted, wall and processor
#      time (GNU time), members taken, wrong ones among them, and whether each
#      wrong row was flagged; the rows of the file read back as the fitting
#      program reads them (free-format from column 37) against the table.
#
#   bench/series_assign.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
source "$(dirname "$0")/end_to_end.sh" "$build"
"$maker" --top "$work/top.cat" --truth "$work/truth" --step 0.0421 --width 0.6 --seed 11 \
    "$work/top.001" >/dev/null

cat >"$work/twelve.play" <<PLAY
type $work/top.001
enter
keys D
type
type
type
type
type
type $work/view.lin
keys J
enter
keys XT}XT}XT
keys A
keys Y
key esc
enter
keys Y
type -1
PLAY
start=$(date +%s%N)
"$korax" --play "$work/twelve.play" --catalog "$work/top.cat" --shots "$work/shots" --seed 1 \
    --config none >/dev/null
end=$(date +%s%N)
echo "series view, 12 keys from the open catalogue: session $(((end - start) / 1000000)) ms"

/usr/bin/time -f "%e %U %S" -o "$work/time" "$korax" assign "$work/top.001" --catalog "$work/top.cat" \
    --lin "$work/all.lin" --all --tsv --write >"$work/all.tsv" 2>"$work/all.err"
read -r wall user sys <"$work/time"
echo "korax assign --all: wall $wall s, processor $user s user + $sys s system"
tail -n 2 "$work/all.err"

python3 - "$work/truth" "$work/view.lin" "$work/all.tsv" "$work/all.lin" <<'PY'
import csv, sys
truth = {(int(r["J"]), int(r["K"])): (float(r["frequency"]), float(r["height"]))
         for r in csv.DictReader(open(sys.argv[1]), delimiter="\t")}
width = 0.654 * 0.6  # the lobe width of the lines
def right(j, k, f):
    true, height = truth[(j, k)]
    return height > 0 and abs(f - true) < width / 4
def records(path):
    out = {}
    for line in open(path):
        fields = tuple(int(x) for x in line[:36].split())
        numbers = line[36:].split("!")[0].split()
        out[fields] = numbers
    return out
view = records(sys.argv[2])
series_k = {key[1] for key in view}
wrong = [key for key, numbers in view.items() if not right(key[2], key[3], float(numbers[0]))]
members = sum(1 for (j, k) in truth if k in series_k)
print(f"series view: K = {sorted(series_k)}, {members} members, {len(view)} written, "
      f"{len(wrong)} wrong {wrong}")
rows = list(csv.DictReader(open(sys.argv[3]), delimiter="\t"))
lin = records(sys.argv[4])
fitted = [r for r in rows if r["frequency"]]
taken = [r for r in rows if r["decision"] == "take"]
wrong_taken, readback = 0, 0
wrong_skipped = {}
for r in fitted:
    upper, lower = r["transition"].split("<-")
    j, k = (int(x) for x in lower.split())
    ok = right(j, k, float(r["frequency"]))
    if r["decision"] == "take":
        wrong_taken += 0 if ok else 1
        key = tuple(int(x) for x in (upper + lower).split())
        readback += 1 if lin[key][:2] == [r["frequency"], r["error"]] else 0
    elif not ok:
        why = "flagged" if r["reason"] == "flagged" else r["reason"]
        wrong_skipped[why] = wrong_skipped.get(why, 0) + 1
print(f"assign --all: {len(rows)} predictions, {len(fitted)} fitted, {len(taken)} taken, "
      f"{wrong_taken} of them wrong ({100.0 * wrong_taken / max(1, len(taken)):.2f} %); "
      f"fits on a wrong line skipped: {wrong_skipped}; "
      f"{readback} of {len(taken)} records read back as the table")
PY
