#!/usr/bin/env bash
# Makes the Debian packages (libquorvane2, libquorvane-dev, quorvane) from a build directory
# with CPack, then has lintian check them; prints each package's size.
#   scripts/package.sh [BUILD-DIR [OUTPUT-DIR]]     (defaults: build, build/packages)
# Installs what is missing, and configures and builds BUILD-DIR when it is not built yet.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
output="${2:-$build/packages}"

source scripts/deps.sh
quorvane_install_missing
if [[ ! -f "$build/CPackConfig.cmake" ]]; then
    cmake --preset default -B "$build"
fi
cmake --build "$build" -j2
mkdir -p "$output"
rm -f "$output"/*.deb
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$output/cpack" >/dev/null
mv "$output"/cpack/*.deb "$output"/
rm -rf "$output/cpack"
# Errors fail the script; warnings are printed for a person to weigh.
lintian --fail-on error --tag-display-limit 0 "$output"/*.deb
for package in "$output"/*.deb; do
    printf '%s\t%s bytes\tinstalled %s KiB\n' "${package##*/}" "$(stat -c %s "$package")" \
        "$(dpkg-deb -f "$package" Installed-Size)"
done
