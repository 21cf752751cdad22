#!/usr/bin/env bash
# The assignment file known from the start and the settings kept between runs,
# on the real program: --lin marks the lines of a file another program wrote
# and T adds to it only after a yes; a second run in the same XDG_STATE_HOME
# starts with the first run's settings and the folder's file; a --lin that is
# no assignment file and a damaged settings file are named and not used (a
# damaged file of ours is replaced at the next change; a user's file in its
# place, or a link there, is never written); a
# scripted run without a configuration file and without XDG_STATE_HOME keeps
# nothing.
#
#   tests/lin_state.sh KORAX SOURCE_DIR
set -uo pipefail
korax=$1
source_dir=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/korax-linstate.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$source_dir/examples/ocs.001" "$source_dir/examples/ocs.cat" \
    "$source_dir/tests/play/lin_marks/other.lin" "$work/"
failed=0

# play NAME [OPTION...]: runs $work/NAME.play in $work, status 0 wanted.
play() {
    local name=$1
    shift
    (cd "$work" && "$korax" --play "$name.play" --seed 1 --config none --shots "$work/shots" \
        "$@" >"$work/$name.out" 2>&1)
    local status=$?
    if ((status != 0)); then
        echo "FAILED: $name: status $status" >&2
        cat "$work/$name.out" >&2
        failed=$((failed + 1))
    fi
}
check() {
    if ! eval "$1"; then
        echo "FAILED: $2" >&2
        failed=$((failed + 1))
    fi
}
export XDG_STATE_HOME=$work/state
state=$work/state/korax/settings

# ---- 1. --lin: marked at C, added to after the yes of the first T
cat >"$work/first.play" <<'PLAY'
type ocs.001
enter
keys D
type 0.5
type -5
type 0.002
type 0.5
type
type
keys C
type ocs.cat
expect ocs.cat: 50 lines read, 0 skipped; 2 assigned in other.lin
enter
keys ]EEEO
keys T
expect _____A S S I G N M E N T   F I L E
expect (ENTER takes other.lin)
enter
expect other.lin exists with 8 lines: add the assignments to it
keys Y
expect This transition is assigned already: replace its line (Y/N), R removes it ?
keys N
enter
keys Y
type -1
PLAY
play first --lin other.lin
check 'cmp -s "$work/other.lin" "$source_dir/tests/play/lin_marks/other.lin"' \
    "the file named by --lin was changed"
check '[[ $(stat -c %a "$work/state/korax") == 700 ]]' "the settings folder is not private"
check "grep -qx 'tolerance 0.5' '$state' && grep -qx 'weight 0.5' '$state'" "D's values not saved"
check "grep -q '^folder $work/	$work/other.lin\$' '$state'" "the folder's file not saved"

# ---- 2. a second run starts with the first run's settings and file
cat >"$work/second.play" <<'PLAY'
type ocs.001
enter
keys C
type ocs.cat
expect ocs.cat: 50 lines read, 0 skipped; 2 assigned in other.lin
enter
keys D
expect Tolerance of an assignment, in frequency units (now 0.5000)
type
expect Intensity threshold of } and {, log10 (now -5.0000)
type
expect Fixed uncertainty, 0 for the fit's error (now 0.0020)
type
expect Weight of an assigned line (now 0.5000)
type
type
type
# Remembered, not yet agreed to in this run: T asks again.
keys ]]9
keys T
expect (ENTER takes
enter
expect other.lin exists with 8 lines: add the assignmen
keys Y
expect Assigned in
enter
keys Y
type -1
PLAY
before=$(cat "$state")
play second
check '[[ $(cat "$state") == "$before" ]]' "settings rewritten although nothing changed"
check "grep -q ' 20  2 18 19  2 17 .* 0.0020 ' '$work/other.lin'" "the fixed uncertainty not used"

# ---- 3. a --lin that is no assignment file; a damaged settings file
cat >"$work/refused.play" <<'PLAY'
type ocs.001
enter
expect ocs.001: not an assignment file: line 1 holds binary bytes - not used
keys D
type
type
type
type
type
# The folder's file of the runs before, not the refused one.
expect other.lin):
type
enter
keys Y
type -1
PLAY
play refused --lin ocs.001

# ---- 4. a --lin that does not exist yet is taken as named, without a question
cat >"$work/fresh.play" <<'PLAY'
type ocs.001
enter
keys C
type ocs.cat
expect ocs.cat: 50 lines read, 0 skipped; 0 assigned in fresh.lin
enter
keys ]]9
keys T
expect Assigned in fresh.lin: 20 2 18 <- 19 2 17
enter
keys Y
type -1
PLAY
play fresh --lin fresh.lin
check "[[ \$(grep -c ' 20  2 18 19  2 17 ' '$work/fresh.lin') == 1 ]]" "the new --lin file not written"
check "grep -q '^folder $work/	$work/fresh.lin\$' '$state'" "the new file not remembered for the folder"

# A file of ours with a value that cannot be used, then a user's file in the
# settings file's place, and a link there to a user's file.
head -n 1 "$state" >"$work/header"
{ cat "$work/header"; printf 'tolerance many\n'; } >"$state"
damaged_run() {
    cat >"$work/damaged.play" <<PLAY
type ocs.001
enter
expect Saved settings ignored ($1)
keys D
expect Tolerance of an assignment, in frequency units (now 1.0000)
type 0.25
type
type
type
type
type
$2
enter
keys Y
type -1
PLAY
    play damaged
}
damaged_run "line 2: a value that cannot be used" ""
check "head -n 1 '$state' | grep -q '^# korax catalogue settings' && grep -qx 'tolerance 0.25' '$state'" \
    "the damaged settings file was not replaced"
printf 'tolerance 3\n' >"$state"
damaged_run "line 1: not a settings file of this program" \
    "expect Settings not saved (not a settings file of this program, left as it is): "
check "[[ \$(cat '$state') == 'tolerance 3' ]]" "a user's file in the settings file's place was replaced"
rm "$state"
printf 'my own notes\n' >"$work/notes.txt"
ln -s "$work/notes.txt" "$state"
damaged_run "line 1: not a settings file of this program" \
    "expect Settings not saved (a symbolic link, not written through): "
check "[[ -L '$state' && \$(cat '$work/notes.txt') == 'my own notes' ]]" \
    "the settings were written through a link"
rm "$state"

# ---- 5. scripted, without a configuration file and XDG_STATE_HOME: nothing kept
mkdir -p "$work/home"
cat >"$work/none.play" <<'PLAY'
type ocs.001
enter
keys D
type 0.75
type
type
type
type
type
enter
keys Y
type -1
PLAY
unset XDG_STATE_HOME
saved_home=$HOME
export HOME=$work/home
play none
export HOME=$saved_home
check '[[ -z $(ls -A "$work/home") ]]' "a scripted run wrote into HOME"

((failed == 0)) && echo "all lin/state checks passed"
exit $((failed > 0))
