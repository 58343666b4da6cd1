#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the prefix elsewhere, and builds the two
# examples the way a user would: the C++ one with CMake's find_package, the C one with
# pkg-config. Each then traces into a private mailbox that the installed quorvane-tail reads.
#   InstalledConsumers.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
source="$(cd "$2" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Stripped, as a package ships it: debug information names the tree it was built in.
cmake --install "$build" --prefix "$work/installed" --strip >/dev/null
mv "$work/installed" "$work/moved"
prefix="$work/moved"

if grep -rl -e "$build" -e "$source" "$prefix"; then
    echo "FAIL: the installed files above name the build or source tree"
    exit 1
fi
for file in bin/quorvane-viewer bin/quorvane-send bin/quorvane-tail bin/quorvane-forward \
    bin/quorvane-demo share/man/man1/quorvane-forward.1.gz share/man/man1/quorvane-viewer.1.gz \
    share/man/man1/quorvane-send.1.gz share/man/man1/quorvane-tail.1.gz share/man/man1/quorvane-demo.1.gz \
    share/man/man3/quorvane.3.gz share/bash-completion/completions/quorvane-tail \
    share/applications/quorvane.desktop share/metainfo/org.quorvane.Quorvane.metainfo.xml \
    share/icons/hicolor/scalable/apps/quorvane.svg share/icons/hicolor/48x48/apps/quorvane.png \
    share/icons/hicolor/256x256/apps/quorvane.png share/doc/Quorvane/LICENSE \
    include/quorvane/quorvane.h include/quorvane/Trace.h; do
    [[ -s "$prefix/$file" ]] || { echo "FAIL: not installed: $file"; exit 1; }
done
# Every program installed comes with its manual page and its completion.
for program in "$prefix"/bin/*; do
    for file in "share/man/man1/${program##*/}.1.gz" "share/bash-completion/completions/${program##*/}"; do
        [[ -s "$prefix/$file" ]] || { echo "FAIL: not installed: $file"; exit 1; }
    done
done
"$prefix/bin/quorvane-demo" --version >/dev/null || { echo "FAIL: demo finds no library"; exit 1; }

cmake -S "$source/examples/cpp" -B "$work/cpp" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cpp" >/dev/null
mkdir "$work/c"
PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib/$(gcc -print-multiarch 2>/dev/null)/pkgconfig" \
    make -s -C "$work/c" -f "$source/examples/c/Makefile" SRCDIR="$source/examples/c" >/dev/null

# Runs PROGRAM while the installed quorvane-tail holds its mailbox, and prints the COUNT lines it
# traced, from the origin on. Probe records tell when the tail is reading.
traced() {
    local count="$1" program="$2"
    local lines="$work/lines-$count"
    export QUORVANE_MAILBOX="installed-consumers-$$-$count"
    "$prefix/bin/quorvane-tail" >"$lines" &
    local tail=$!
    local tries=0
    until grep -q probe "$lines"; do
        ((++tries < 200)) || { echo "FAIL: quorvane-tail reads nothing"; exit 1; }
        "$prefix/bin/quorvane-send" --timeout=0 probe >/dev/null 2>&1 || true
        sleep 0.05
    done
    "$program" >"$work/output-$count"
    tries=0
    until (($(grep -vc probe "$lines") >= count)); do
        ((++tries < 200)) || { echo "FAIL: the traced lines did not arrive"; exit 1; }
        sleep 0.05
    done
    kill -TERM "$tail"
    wait "$tail"
    grep -v probe "$lines" | cut -f4-
}

cpp_lines="$(traced 20 "$work/cpp/example_cpp")"
c_lines="$(traced 5 "$work/c/example_c")"
grep -qx 'fib(4)=3 posted 20 dropped 0' "$work/output-20" || { echo "FAIL: C++ example output"; exit 1; }
grep -qx 'sum=14 posted 5 dropped 0' "$work/output-5" || { echo "FAIL: C example output"; exit 1; }
expected_c="$(printf 'example-c\tsum(of 3 squares)\nexample-c\t\tadd(i=1 sum=1)\nexample-c\t\tadd(i=2 sum=5)\nexample-c\t\tadd(i=3 sum=14)\nexample-c\tsum()')"
if [[ "$c_lines" != "$expected_c" ]]; then
    printf 'FAIL: C example lines:\n%s\n' "$c_lines"
    exit 1
fi
if [[ "$(grep -c 'fib(n=' <<<"$cpp_lines")" != 9 || "$(tail -n1 <<<"$cpp_lines")" != *"result(fib(4)=3)" ]]; then
    printf 'FAIL: C++ example lines:\n%s\n' "$cpp_lines"
    exit 1
fi
echo "installed library: find_package and pkg-config consumers built and traced"
