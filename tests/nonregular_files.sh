#!/usr/bin/env bash
# The real program given names of FIFOs and devices where it expects files: at
# the file prompt, in the file-open box, at the append prompt and as the
# configuration file. Each must be refused at once, never waited on; ctest's
# timeout catches a run that blocks.
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

exit $failed
