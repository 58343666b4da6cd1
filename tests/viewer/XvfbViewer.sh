# Sourced by the Xvfb tests of the viewer: the real viewer on a private Xvfb display with its own
# runtime and configuration directories and mailbox ($mailbox_stem.PID), its window found as
# `window`; everything started is stopped and removed at exit. Sets `fail` and `await` too.
# Arguments of the test: the viewer and quorvane-send.
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
export QUORVANE_MAILBOX="$mailbox_stem.$$"
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
