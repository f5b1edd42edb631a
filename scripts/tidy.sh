#!/usr/bin/env bash
# Runs clang-tidy with the tree's .clang-tidy over every source of the tree: the program,
# the virtual device, the tests, the fuzz targets and the benchmarks. Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${TIDY_BUILD_DIR:-build-tidy}
# Configured with clang and every optional part on, only for its compile commands.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DOSTREL_BUILD_FUZZERS=ON \
  -DOSTREL_BUILD_BENCHMARKS=ON >/dev/null
run-clang-tidy-14 -p "$build" -quiet -j "$(nproc)" \
  "$PWD/(app|device|mcu|vxr|sim|tests|fuzz|bench)/.*\.cpp$"
