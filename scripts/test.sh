#!/usr/bin/env bash
# Refuses QtTest's QTRY_ macros in GoogleTest files, then builds Quorvane and runs every test:
# installs what is missing, configures, builds with both cores, runs the whole suite, then the
# platform, transport and record tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and last clang-tidy over every source file of the project
# (.clang-tidy says which checks; any finding fails).
set -euo pipefail
cd "$(dirname "$0")/.."

# QtTest's QTRY_ macros record a time-out with QtTest, which GoogleTest never hears of, and
# return early: inside a GoogleTest test they cannot fail. Refuse them in every file that
# includes gtest, directly or through a header of ours that does; the viewer's tests wait with
# viewertest::waitUntil instead.
sources() { grep -rl --include='*.cpp' --include='*.h' "$@" tests bench examples || true; }
gtest_files=$(sources -E '#include[[:space:]]*[<"]gtest/' | sort -u)
while :; do
    headers=$(grep '\.h$' <<<"$gtest_files" | sed 's|.*/||')
    grown=$( (echo "$gtest_files"; [ -z "$headers" ] || sources -F "$headers") | sort -u)
    [ "$grown" != "$gtest_files" ] || break
    gtest_files=$grown
done
if xargs -r grep -nF 'QTRY_' <<<"$gtest_files"; then
    echo "QTRY_ cannot fail inside a GoogleTest test: wait with viewertest::waitUntil instead"
    exit 1
fi

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
    # The build's link-time optimisation flags are GCC's; clang only warns that it ignores them.
    run-clang-tidy -p build -j 2 -quiet -extra-arg=-Wno-ignored-optimization-argument \
        "^$PWD/(platform|transport|records|client|tools|viewer|bench|tests|examples)/" \
        >build/clang-tidy.log 2>&1 || {
        grep -E '(warning|error):' build/clang-tidy.log | sort -u
        echo "clang-tidy found the problems above"
        exit 1
    }
    echo "clang-tidy: no findings"
fi
