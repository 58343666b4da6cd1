#!/usr/bin/env bash
# The real viewer on a private Xvfb display, fed by quorvane-send, searched with real key presses:
# Ctrl+F and typing find a line, Enter the next one, and Ctrl+C puts each found line on the X
# clipboard as it is shown, ended by LF. Arguments: the viewer and quorvane-send.
set -euo pipefail

viewer_program="$1"
send_program="$2"
work="$(mktemp -d)"
xvfb=""
viewer=""
finish() {
    [[ -n "$viewer" ]] && kill "$viewer" 2>/dev/null && wait "$viewer" 2>/dev/null
    [[ -n "$xvfb" ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
# Polls `$@` every 0.1 s for up to 10 s.
await() {
    for _ in $(seq 100); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config"
export QUORVANE_MAILBOX="QuorvaneXvfbFind.$$"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
await test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(cat "$work/display")"

"$viewer_program" 2>"$work/viewer.log" &
viewer=$!
window=""
find_window() { window="$(xdotool search --name '^Quorvane$' 2>/dev/null | head -n1)" && [[ -n "$window" ]]; }
await find_window || fail "no viewer window: $(cat "$work/viewer.log")"

printf 'needle first\nother line\nneedle second\n' |
    "$send_program" --timeout 5000 --origin xvfb-find --lines probe ||
    fail "quorvane-send could not post"
# Drained within a poll period; give it two.
sleep 1

clipboard() { xclip -o -selection clipboard 2>/dev/null || true; }
# Copies what is selected and waits for the clipboard to hold something new.
copy() {
    local before
    before="$(clipboard)"
    xdotool key --clearmodifiers ctrl+c
    changed() { [[ "$(clipboard)" != "$before" && -n "$(clipboard)" ]]; }
    await changed || fail "Ctrl+C put nothing new on the clipboard (or found the same line again)"
    clipboard
}

xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers ctrl+f
sleep 0.3
xdotool type --delay 20 needle
sleep 0.3
first="$(copy)"
xdotool key Return
sleep 0.3
second="$(copy)"

for found in "$first" "$second"; do
    [[ "$found" == *$'\t'"probe(needle "* ]] || fail "copied '$found', not a needle line"
    [[ "$found" != *$'\r'* ]] || fail "copied '$found' with a CR: a copy ends its lines with LF"
    [[ "$found" == *xvfb-find* ]] || fail "copied '$found' without its origin"
done
[[ "$first" != "$second" ]] || fail "Enter did not move to the other needle line: '$first'"
echo "typing found: $first"
echo "Enter found:  $second"
