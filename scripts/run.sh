#!/usr/bin/env bash
# Builds Quorvane and starts the viewer with quorvane-demo feeding it traces.
#
# With a display, the viewer stays until you close it. Without one ($DISPLAY and
# $WAYLAND_DISPLAY both empty), both run under Xvfb for a few seconds, a screenshot of the screen
# is saved (QUORVANE_SCREENSHOT, default BUILD/quorvane-screenshot.png) and its path printed.
# BUILD is QUORVANE_BUILD_DIR, default build-run (the tests build in build/).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
quorvane_install_missing

build=${QUORVANE_BUILD_DIR:-build-run}
cmake -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j2 --target quorvane-viewer quorvane-demo

viewer=$build/viewer/quorvane-viewer
demo=$build/tools/quorvane-demo
screenshot=${QUORVANE_SCREENSHOT:-$PWD/$build/quorvane-screenshot.png}
pids=()
stop_all() {
    local pid
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    pids=()
}
trap stop_all EXIT

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    "$viewer" &
    viewer_pid=$!
    sleep 1
    "$demo" --forever &
    pids=($!)
    echo "Quorvane is running; close its window to stop."
    wait "$viewer_pid" || true
    exit 0
fi

# No display: a virtual one of our own, on the first free display number.
display_number=99
while [[ -e /tmp/.X11-unix/X$display_number || -e /tmp/.X$display_number-lock ]]; do
    display_number=$((display_number + 1))
done
Xvfb ":$display_number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display_number"
for _ in $(seq 50); do
    [[ -e /tmp/.X11-unix/X$display_number ]] && break
    sleep 0.1
done

"$viewer" &
viewer_pid=$!
sleep 1
"$demo" --seconds 4 || true
sleep 1
import -window root "$screenshot"
kill -TERM "$viewer_pid"
wait "$viewer_pid" || true
echo "Screenshot of the viewer under Xvfb: $screenshot"
