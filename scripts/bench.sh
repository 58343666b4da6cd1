#!/usr/bin/env bash
# Builds the benchmarks if needed (Release, in build-bench/ or $QUORVANE_BENCH_BUILD), runs them
# all, and prints one table with the machine on top and the RESULT lines at the end.
# Figures are printed, never judged by this script's exit status: it fails only when a
# benchmark cannot be built or does not run to its end.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
quorvane_install_missing libspdlog-dev
build="${QUORVANE_BENCH_BUILD:-$root/build-bench}"
benchmarks=(quorvane_bench_transport quorvane_bench_format quorvane_bench_trace quorvane_bench_save
            quorvane_bench_export quorvane_bench_find quorvane_bench_fold quorvane_bench_openlog
            quorvane_bench_viewer quorvane_bench_rsyslog)

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    generator=()
    if command -v ninja >/dev/null; then generator=(-G Ninja); fi
    cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi

# Only the benchmarks this configuration has (the viewer's need Qt and the viewer library).
known="$(cmake --build "$build" --target help)"
present=()
for target in "${benchmarks[@]}"; do
    if grep -qw -- "$target" <<<"$known"; then present+=("$target"); fi
done
jobs="${QUORVANE_BENCH_JOBS:-2}"
cmake --build "$build" --target "${present[@]}" -j "$jobs" >/dev/null

model="$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "Quorvane benchmarks  $(date -u '+%Y-%m-%d %H:%M UTC')  commit $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')"
echo "machine: $(nproc) cpus, ${model:-unknown CPU}, $(uname -sr)"
results=()
status=0
for target in "${benchmarks[@]}"; do
    if [[ " ${present[*]} " != *" $target "* ]]; then
        echo
        echo "== $target: not part of this build, skipped"
        continue
    fi
    program="$(find "$build" -type f -name "$target" -perm -u+x | head -n1)"
    output="$(mktemp)"
    if ! "$program" --no-machine >"$output" 2>&1; then
        echo "== $target did not finish" >&2
        status=1
    fi
    grep -v '^RESULT ' "$output" | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' || true
    while IFS= read -r line; do results+=("$line"); done < <(grep '^RESULT ' "$output" || true)
    rm -f "$output"
done

echo
for line in "${results[@]}"; do echo "$line"; done
exit "$status"
