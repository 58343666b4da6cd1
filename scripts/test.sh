#!/usr/bin/env bash
# Builds Quorvane and runs every test: installs what is missing, configures, builds with both
# cores, runs the whole suite, then the platform, transport and record tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and last clang-tidy over every source file of
# the project (.clang-tidy says which checks; any finding fails).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
quorvane_install_missing clang-tidy

cmake --preset default
cmake --build --preset default
ctest --preset default

cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize

if command -v run-clang-tidy >/dev/null; then
    echo "clang-tidy over the sources (build/compile_commands.json)"
    run-clang-tidy -p build -j 2 -quiet \
        "^$PWD/(platform|transport|records|client|tools|viewer|bench|tests|examples)/" \
        >build/clang-tidy.log 2>&1 || {
        grep -E '(warning|error):' build/clang-tidy.log | sort -u
        echo "clang-tidy found the problems above"
        exit 1
    }
    echo "clang-tidy: no findings"
fi
