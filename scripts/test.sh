#!/usr/bin/env bash
# Sets up the machine, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DOSTREL_WERROR=ON -DOSTREL_BUILD_TESTS=ON
cmake --build "$build"
cd "$build"
ctest --output-on-failure -j2 --timeout 600
