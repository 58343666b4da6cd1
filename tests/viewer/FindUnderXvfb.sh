#!/usr/bin/env bash
# The real viewer on a private Xvfb display, fed by quorvane-send, searched with real key presses:
# Ctrl+F and typing find a line, Enter the next one, and Ctrl+C puts each found line on the X
# clipboard as it is shown, ended by LF. Arguments: the viewer and quorvane-send.
mailbox_stem=QuorvaneXvfbFind
source "$(dirname "$0")/XvfbViewer.sh"

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
