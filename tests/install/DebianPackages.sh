#!/usr/bin/env bash
# Makes the Debian packages (scripts/package.sh: CPack, then lintian, whose errors fail), installs
# them with apt-get as a Debian user would, builds both examples against the installed files
# alone, traces them and the Python module through the installed quorvane-tail, then removes
# the packages and checks that nothing is left. Needs root and apt-get; skipped (77) without them
# or when Quorvane packages are already installed, which it would not touch.
#   DebianPackages.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
source="$(cd "$2" && pwd)"
packages=(libquorvane2 libquorvane-dev quorvane)
if [[ $(id -u) -ne 0 ]] || ! command -v apt-get >/dev/null; then
    echo "skipped: installing packages needs root and apt-get"
    exit 77
fi
if dpkg-query -W -f='${Status}\n' "${packages[@]}" 2>/dev/null | grep -q "ok installed"; then
    echo "skipped: Quorvane packages are installed already"
    exit 77
fi
work="$(mktemp -d)"
tail_pid=
cleanup() {
    if [[ -n $tail_pid ]]; then kill "$tail_pid" 2>/dev/null || true; fi
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

"$source/scripts/package.sh" "$build" "$work/debs" >"$work/package.log" 2>&1 ||
    { cat "$work/package.log"; echo "FAIL: packaging or lintian"; exit 1; }
cat "$work/package.log"

# What each package holds, read from the packages (a system may exclude /usr/share/man).
contains() {
    local listing
    listing="$(dpkg-deb -c "$work/debs/$1"_*.deb)"
    grep -qE " \./usr/$2( -> .*)?\$" <<<"$listing" || { echo "FAIL: $1 lacks $2"; exit 1; }
}
contains libquorvane2 'lib/(.*/)?libquorvane\.so\.2(\.0)?'
contains libquorvane-dev 'include/quorvane/quorvane\.h'
contains libquorvane-dev 'lib/(.*/)?cmake/Quorvane/QuorvaneConfig\.cmake'
contains libquorvane-dev 'lib/(.*/)?pkgconfig/quorvane\.pc'
contains libquorvane-dev 'share/man/man3/quorvane\.3(\.gz)?'
for file in bin/quorvane-viewer bin/quorvane-tail share/applications/quorvane.desktop \
    share/metainfo/org.quorvane.Quorvane.metainfo.xml share/icons/hicolor/scalable/apps/quorvane.svg \
    share/icons/hicolor/48x48/apps/quorvane.png share/bash-completion/completions/quorvane-tail \
    lib/python3/dist-packages/quorvane/__init__.py; do
    contains quorvane "${file//./\\.}"
done
# Every program the package installs comes with its manual page and its completion.
programs="$(dpkg-deb -c "$work/debs"/quorvane_*.deb | grep -oE '\./usr/bin/[^ ]+$' | sed 's|.*/||')"
for program in quorvane-viewer quorvane-tail quorvane-relp quorvane-rsyslog-setup; do
    grep -qx "$program" <<<"$programs" || { echo "FAIL: quorvane lacks bin/$program"; exit 1; }
done
for program in $programs; do
    contains quorvane "share/man/man1/${program}\\.1\\.gz"
    contains quorvane "share/bash-completion/completions/$program"
done
depends="$(dpkg-deb -f "$work/debs"/quorvane_*.deb Depends)"
[[ $depends == *"libquorvane2 (= "* ]] || { echo "FAIL: quorvane does not depend on libquorvane2"; exit 1; }
[[ $depends == *libqt6widgets6* ]] || { echo "FAIL: dpkg-shlibdeps found no dependencies: $depends"; exit 1; }

(cd "$work/debs" && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    ./*.deb >"$work/apt.log" 2>&1) || { cat "$work/apt.log"; echo "FAIL: apt-get install"; exit 1; }

# Against the installed files alone: no prefix, no PKG_CONFIG_PATH, no rpath, no PYTHONPATH.
mkdir "$work/run"
cp -r "$source/examples" "$work/run/examples"
steps='cmake -S examples/cpp -B build-example >/dev/null && cmake --build build-example >/dev/null
       cc -std=c11 examples/c/main.c -o example-c $(pkg-config --cflags --libs quorvane)
       build-example/example_cpp && ./example-c
       python3 -c "import quorvane; quorvane.trace(\"hello\", \"from Python\")"'
export QUORVANE_MAILBOX="debian-packages-$$"
source "$(dirname "$0")/TailReader.sh"
start_tail /usr/bin "$work/lines"
(cd "$work/run" && env -i HOME="$work" PATH=/usr/bin:/bin QUORVANE_MAILBOX="$QUORVANE_MAILBOX" \
    bash -euo pipefail -c "$steps") >"$work/run.log" 2>&1 ||
    { cat "$work/run.log"; echo "FAIL: building or running against the packages"; exit 1; }
stop_tail "$work/lines" 26
check_examples "$traced"
bash -c 'source /usr/share/bash-completion/completions/quorvane-tail && complete -p quorvane-tail' \
    >/dev/null || { echo "FAIL: no completion for quorvane-tail"; exit 1; }

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1
for gone in /usr/bin/quorvane-tail /usr/include/quorvane /usr/lib/python3/dist-packages/quorvane; do
    [[ ! -e $gone ]] || { echo "FAIL: $gone is left after removal"; exit 1; }
done
ldconfig -p | grep -q libquorvane && { echo "FAIL: libquorvane is still known to the linker"; exit 1; }
echo "Debian packages: lintian clean of errors, installed, built against, traced and removed"
