#!/usr/bin/env bash
# Builds Quorvane and runs every test: installs what is missing, configures, builds with both
# cores, runs the whole suite, then runs the transport and record tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
quorvane_install_missing

cmake --preset default
cmake --build --preset default
ctest --preset default

cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize
