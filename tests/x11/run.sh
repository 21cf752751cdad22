#!/usr/bin/env bash
# Drives KORAX in a real X window (Xvfb) with real key events from xdotool, takes
# screenshots of the window, and compares them pixel for pixel with the
# screenshots `korax --play` takes of the same session: the on-screen window must
# show exactly the canvas.
#
# usage: tests/x11/run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
korax="$build/korax"

for tool in Xvfb xdotool import compare; do
    command -v "$tool" >/dev/null || { echo "x11 test: $tool is missing (scripts/install-deps installs it)"; exit 1; }
done

work=$(mktemp -d)
xvfb_pid=""
korax_pid=""
cleanup() {
    [ -n "$korax_pid" ] && kill "$korax_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/run" "$work/cfg" "$work/x11" "$work/play"
cp "$root/examples/ocs.001" "$work/run/"
export XDG_CONFIG_HOME="$work/cfg" # no configuration file: the default window

# A free display number.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# The play-mode side first: the same session as a key script.
while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in
    "" | "#"*) ;;
    "key Return") echo "enter" ;;
    "key "*) echo "key $(echo "${line#key }" | tr '[:upper:]' '[:lower:]')" ;;
    # The box of the real window answers with the whole path of the file.
    "box "*) echo "box $work/run/${line#box }" ;;
    *) echo "$line" ;;
    esac
done <"$here/session.keys" >"$work/session.play"
(cd "$work/run" && "$korax" --play "$work/session.play" --shots "$work/play" --seed 1 --config none) ||
    { echo "x11 test: the play run of the session failed"; exit 1; }

(cd "$work/run" && exec env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$korax") >"$work/korax.log" 2>&1 &
korax_pid=$!

window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --pid "$korax_pid" 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "x11 test: the KORAX window did not appear"; cat "$work/korax.log"; exit 1; }

settle() { sleep "${1:-0.6}"; }
focus() { xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"; }
focus
settle 1.5

status=0
while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in
    "" | "#"*) continue ;;
    "key "*) xdotool key --clearmodifiers "${line#key }"; settle 0.3 ;;
    "keys "*) xdotool type --delay 60 -- "${line#keys }"; settle ;;
    "type "*) xdotool type --delay 60 -- "${line#type }"; xdotool key Return; settle ;;
    "box "*)
        settle 1
        # The file-open box has the keyboard; its name field takes the name.
        xdotool type --delay 60 -- "${line#box }"
        xdotool key Return
        settle 1
        focus
        ;;
    "shot "*)
        name=${line#shot }
        settle 1
        import -window "$window" "$work/x11/$name.png"
        if ! diff=$(compare -metric AE "$work/x11/$name.png" "$work/play/$name.png" "$work/$name-diff.png" 2>&1); then
            echo "x11 test: $name differs from play mode in $diff pixels"
            status=1
        else
            echo "x11 test: $name identical ($diff differing pixels)"
        fi
        ;;
    *) echo "x11 test: unknown line: $line"; exit 1 ;;
    esac
done <"$here/session.keys"

# The session ends with the outer menu's EXIT: the program must be gone.
for _ in $(seq 50); do kill -0 "$korax_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$korax_pid" 2>/dev/null; then
    echo "x11 test: KORAX did not exit at -1"
    status=1
else
    wait "$korax_pid" || { echo "x11 test: KORAX exited with status $?"; status=1; }
    korax_pid=""
fi
[ $status -eq 0 ] && echo "x11 test: passed"
exit $status
