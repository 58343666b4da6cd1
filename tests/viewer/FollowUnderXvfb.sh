#!/usr/bin/env bash
# The real viewer on a private Xvfb display with Reverse Output off, fed Latin-1 lines by
# quorvane-send, clicked and copied from with real key presses and clicks: the view follows the
# newest line, a click stops it so that the clicked line stays where it is while lines arrive,
# Ctrl+End follows again, and Ctrl+C puts the line on the X clipboard as shown (the Latin-1 byte
# as its letter, a LF end). Arguments: the viewer and quorvane-send.
mailbox_stem=QuorvaneXvfbFollow
source "$(dirname "$0")/XvfbViewer.sh"
xdotool windowfocus --sync "$window"

# The list has the focus; Tab goes on to Reverse Output, which Space turns off.
xdotool key Tab space
sleep 0.3

# Lines "café N" (Latin-1), numbered from `$1` to `$2`.
send() {
    for ((n = $1; n <= $2; ++n)); do printf 'caf\xe9 %d\n' "$n"; done |
        "$send_program" --timeout 5000 --origin xvfb-follow --lines probe ||
        fail "quorvane-send could not post"
    # Drained within a poll period; give it two.
    sleep 1
}
clipboard() { xclip -o -selection clipboard 2>/dev/null || true; }
# Clicks the top line in sight and copies it; prints the copy.
copy_top_line() {
    xdotool mousemove --window "$window" 60 "$top_y" click 1
    sleep 0.2
    echo none | xclip -selection clipboard
    xdotool key --clearmodifiers ctrl+c
    copied() { [[ "$(clipboard)" != none && -n "$(clipboard)" ]]; }
    await copied || fail "Ctrl+C put nothing on the clipboard"
    clipboard | od -An -c | tr -s ' ' >"$work/last-copy-bytes"
    clipboard
}
# The N of the copied "café N" line.
number_of() { [[ "$1" =~ probe\(café\ ([0-9]+)\) ]] && echo "${BASH_REMATCH[1]}"; }

# The list starts under the check box: a little below the top of the window is its first row.
top_y=44

send 1 300
first="$(copy_top_line)"
[[ "$first" == *$'\t'xvfb-follow$'\t'"probe(café "* ]] ||
    fail "copied '$first', not the line as shown with its Latin-1 letter"
grep -q '\\r' "$work/last-copy-bytes" && fail "the copy has a CR: $(cat "$work/last-copy-bytes")"
top="$(number_of "$first")" || fail "no number in '$first'"
((top > 250)) || fail "the top line in sight is $top of 300: the view did not follow the newest line"

# The click stopped following: the clicked line stays where it is while lines arrive.
send 301 400
again="$(copy_top_line)"
[[ "$again" == "$first" ]] || fail "the clicked line moved: '$first', then '$again' in its place"

# Ctrl+End follows again.
xdotool key --clearmodifiers ctrl+End
send 401 500
followed="$(number_of "$(copy_top_line)")" || fail "no number after Ctrl+End"
((followed > 450)) || fail "after Ctrl+End the top line in sight is $followed of 500"
echo "followed to $top of 300; clicked line kept while 100 arrived; Ctrl+End followed to $followed"
echo "copied: $first"
