#!/usr/bin/env bash
# The real program given names of FIFOs and devices where it expects files: at
# the file prompt, in the file-open box, at the append prompt, as the
# configuration file, as a key script and as batch inputs. Each must be refused
# at once, never waited on; ctest's timeout catches a run that blocks. Then
# every writer against a FIFO, a device (made here, where mknod is permitted),
# a socket and a folder where its output would go: each refuses "NAME: not a
# regular file" and the node stays; and the batch commands refuse an output
# that is one of their inputs.
#
#   tests/nonregular_files.sh KORAX
set -euo pipefail

korax=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkfifo "$work/fifo.001" "$work/fifo.cfg"
cp examples/ocs.001 "$work/ocs.001"

failed=0
# Runs a script under a name with the given configuration; fails unless the run ends with
# the expected status.
play() {
    local name=$1 script=$2 config=$3 expected=$4
    local status=0
    "$korax" --play "$work/$script.play" --shots "$work/shots" --seed 1 --config "$config" \
        >"$work/$name.out" 2>&1 || status=$?
    if [[ $status != "$expected" ]]; then
        echo "$name: exit status $status, expected $expected" >&2
        cat "$work/$name.out" >&2
        failed=1
    else
        echo "$name: exit status $status as expected"
    fi
}

# At the prompt and in the box: a light-red line, then the box again; the
# append prompt: the same words and ENTER to go on.
cat >"$work/spectrum.play" <<SCRIPT
type $work/fifo.001
expect $work/fifo.001: not a regular file
box $work/fifo.001
box $work/ocs.001
enter
keys &
type fifo.001
expect      fifo.001: not a regular file
enter
expect Specify name of spectrum to be appended
type
enter
keys Y
type -1
SCRIPT
play spectrum spectrum none 0

# The configuration file: the run reaches the file prompt (and then runs out of
# script, status 2) with the default window.
cat >"$work/config.play" <<SCRIPT
expect TYPE ONE OF:
SCRIPT
play config_fifo config "$work/fifo.cfg" 2
play config_urandom config /dev/urandom 2

# A key script that is a FIFO: refused like a missing one, with the usage status.
"$korax" --play "$work/fifo.001" >"$work/script.out" 2>&1 && status=0 || status=$?
if [[ $status == 64 ]] && grep -q "fifo.001: not a regular file" "$work/script.out"; then
    echo "script_fifo: refused with status 64"
else
    echo "script_fifo: status $status" >&2
    cat "$work/script.out" >&2
    failed=1
fi

# expect_batch STATUS TEXT DESCRIPTION COMMAND...: the status, and TEXT on stderr.
expect_batch() {
    local want=$1 text=$2 what=$3
    shift 3
    local status=0
    "$@" >"$work/batch.out" 2>"$work/batch.err" || status=$?
    if [[ $status == "$want" ]] && grep -qF -- "$text" "$work/batch.err"; then
        echo "$what: status $status as expected"
    else
        echo "$what: status $status, expected $want with \"$text\"" >&2
        cat "$work/batch.err" >&2
        failed=1
    fi
}

# Batch inputs: a FIFO among good files is refused at once, the others done.
expect_batch 1 "fifo.001: is not a regular file" "peaks with a FIFO input" \
    "$korax" peaks --cutoff 100 -o "$work" "$work/fifo.001" "$work/ocs.001"
[[ -s $work/ocs.001.peaks ]] || { echo "peaks: the good file was not done" >&2; failed=1; }
expect_batch 1 "fifo.001: is not a regular file" "convert of a FIFO" \
    "$korax" convert "$work/fifo.001" "$work/fifo.txt"

# An input is never an output: by name, through a link, as results file.
ln -s ocs.001 "$work/link.001"
cp "$work/ocs.001" "$work/twin"
cp "$work/ocs.001" "$work/twin.peaks"
expect_batch 64 "an input is never an output" "convert onto its input" \
    "$korax" convert --force "$work/ocs.001" "$work/./ocs.001"
expect_batch 64 "an input is never an output" "convert onto a link to its input" \
    "$korax" convert --force "$work/ocs.001" "$work/link.001"
expect_batch 64 "an input is never an output" "peaks onto another input" \
    "$korax" peaks --force --cutoff 100 "$work/twin" "$work/twin.peaks"
cmp -s "$work/ocs.001" "$work/twin.peaks" || { echo "an input was written" >&2; failed=1; }

# Every writer against each kind of node where its output would go.
kinds="fifo socket folder"
if mknod "$work/probe" c 1 3 2>/dev/null; then
    rm -f "$work/probe"
    kinds="$kinds device"
else
    echo "device: mknod not permitted here, skipped"
fi
command -v python3 >/dev/null || kinds=${kinds/socket/}
make_node() {
    case $1 in
    fifo) mkfifo "$2" ;;
    device) mknod "$2" c 1 3 ;;
    folder) mkdir "$2" ;;
    socket) python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$2" ;;
    esac
}
still_node() {
    case $1 in
    fifo) [[ -p $2 ]] ;;
    device) [[ -c $2 ]] ;;
    folder) [[ -d $2 ]] ;;
    socket) [[ -S $2 ]] ;;
    esac
}
for kind in $kinds; do
    dir="$work/$kind"
    mkdir "$dir"
    cp testdata/gle_strip.001 "$dir/s.001"
    for node in node s.dat s.001-1.png s.001.peaks node.lin; do make_node "$kind" "$dir/$node"; done
    {
        echo "type $dir/s.001"
        echo "enter"
        # M: the node is refused and a new name asked for; ENTER alone leaves.
        echo "keys M"
        echo "type node"
        echo "expect $dir/node: not a regular file"
        echo "expect New file name:"
        echo "type"
        # PEAKFINDER
        echo "keys 0"
        echo "type -7"
        echo "enter"
        echo "enter"
        echo "type 1"
        echo "type node"
        echo "expect $dir/node: not a regular file"
        echo "type"
        # GLE: the node exists, so the question comes; a yes does not replace it.
        echo "keys G"
        echo "type 0"
        echo "expect ALREADY EXIST"
        echo "type Y"
        echo "expect $dir/s.dat: not a regular file"
        echo "enter"
        echo "type -1"
        # Ctrl+P
        printf 'keys \x10\n'
        echo "expect $dir/s.001-1.png: not a regular file"
        # D: the node as the assignment file
        echo "keys D"
        for _ in 1 2 3 4 5; do echo "type"; done
        echo "type node.lin"
        echo "expect $dir/node.lin: not a regular file"
        echo "enter"
        echo "type"
        echo "enter"
        echo "keys Y"
        echo "type -1"
    } >"$work/$kind.play"
    play "writers_$kind" "$kind" none 0
    expect_batch 1 "s.001.peaks: not a regular file" "peaks --force onto a $kind" \
        "$korax" peaks --force --cutoff 100 "$dir/s.001"
    expect_batch 1 "node: not a regular file" "convert --force onto a $kind" \
        "$korax" convert --force "$dir/s.001" "$dir/node"
    for node in node s.dat s.001-1.png s.001.peaks node.lin; do
        still_node "$kind" "$dir/$node" || { echo "$kind $node was replaced" >&2; failed=1; }
    done
    leftovers=$(find "$dir" -name '.korax-*' | wc -l)
    [[ $leftovers == 0 ]] || { echo "$kind: temporaries left" >&2; failed=1; }
done

exit $failed
