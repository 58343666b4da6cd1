#!/usr/bin/env bash
# The long randomised kill run: senders and receivers SIGKILLed at random for SECONDS (default
# 60), then the quiet ring checked for full capacity, no lag, no duplicate and no torn record.
# Prints the counts; exits non-zero when a check fails. CTest runs a three-second version.
#   scripts/kill-run.sh [SECONDS] [extra mailbox_kill_run options, e.g. --senders 6 --seed 1]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
quorvane_install_missing
build="${QUORVANE_BENCH_BUILD:-$root/build-bench}"
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target mailbox_kill_run -j 2 >/dev/null
seconds="${1:-60}"
shift || true
exec "$build/tests/transport/mailbox_kill_run" --seconds "$seconds" "$@"
