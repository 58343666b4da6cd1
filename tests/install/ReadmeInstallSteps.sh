#!/usr/bin/env bash
# Runs the README's install steps exactly as written, in a fresh shell whose home is a temporary
# directory (so ~/.local is a new prefix), with the tree already built: install, the variables,
# both examples built (find_package and pkg-config) and run, and the Python module. The second
# run has the installed quorvane-tail reading, and every program's records must reach it.
#   ReadmeInstallSteps.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
source="$(cd "$2" && pwd)"
work="$(mktemp -d)"
tail_pid=
trap 'if [[ -n $tail_pid ]]; then kill "$tail_pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT

steps="$(awk '/<!-- install steps/{on=1; next} /<!-- end of install steps/{on=0} on && /^    /' \
    "$source/README.md" | sed 's/^    //')"
[[ "$steps" == *"cmake --install build"* ]] || { echo "FAIL: no install steps in README.md"; exit 1; }
mkdir "$work/home" "$work/run"
ln -s "$build" "$work/run/build"
ln -s "$source/examples" "$work/run/examples"
mailbox="readme-steps-$$"

# A login shell's environment and nothing of this one's.
fresh() {
    (cd "$work/run" && env -i HOME="$work/home" PATH=/usr/local/bin:/usr/bin:/bin \
        LANG=C.UTF-8 QUORVANE_MAILBOX="$mailbox" bash -euo pipefail -c "$steps") >"$work/$1" 2>&1 ||
        { cat "$work/$1"; echo "FAIL: the README's steps failed ($1)"; exit 1; }
}
fresh first-run

prefix="$work/home/.local"
export QUORVANE_MAILBOX="$mailbox"
source "$(dirname "$0")/TailReader.sh"
start_tail "$prefix/bin" "$work/lines"
fresh second-run
# 20 records of the C++ example, 5 of the C one, 1 from Python.
stop_tail "$work/lines" 26
grep -qx 'fib(4)=3 posted 20 dropped 0' "$work/second-run" || { echo "FAIL: C++ example output"; exit 1; }
grep -qx 'sum=14 posted 5 dropped 0' "$work/second-run" || { echo "FAIL: C example output"; exit 1; }
check_examples "$traced"

# The language level travels with the target: a C++14 project still builds against it, with
# the headers warned about as its own (not as system headers, which no warning reaches).
(cd "$work/run" && env -i HOME="$work/home" PATH=/usr/bin:/bin \
    CMAKE_PREFIX_PATH="$prefix" cmake -S examples/cpp -B build-cxx14 -DCMAKE_CXX_STANDARD=14 \
    -DCMAKE_NO_SYSTEM_FROM_IMPORTED=ON \
    -DCMAKE_CXX_FLAGS="-Wall -Wextra -Wpedantic -Werror" >/dev/null &&
    cmake --build build-cxx14 >/dev/null) || { echo "FAIL: a C++14 project does not build"; exit 1; }
echo "README install steps: installed, built and traced as written"
