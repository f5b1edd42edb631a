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
# A source compiled for several targets (the fuzz targets' copies of the program's code) is
# checked once: clang-tidy would analyse it once per compile command.
python3 - "$build/compile_commands.json" <<'EOF'
import json, sys
seen, kept = set(), []
for entry in json.load(open(sys.argv[1])):
    if entry["file"] not in seen:
        seen.add(entry["file"])
        kept.append(entry)
json.dump(kept, open(sys.argv[1], "w"), indent=1)
EOF
run-clang-tidy-14 -p "$build" -quiet -j "$(nproc)" \
  "$PWD/(app|base|device|mcu|vxr|sim|tests|fuzz|bench)/.*\.cpp$"
