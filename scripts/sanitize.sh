#!/usr/bin/env bash
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test under them: the program, the virtual device and the tests are all instrumented, and
# any report fails the test that provoked it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${SAN_BUILD_DIR:-build-asan}
# GCC's -Wmaybe-uninitialized misfires on instrumented code (std::optional<std::string>).
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
flags+=" -Wno-maybe-uninitialized"
cmake -S . -B "$build" -G Ninja -DOSTREL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined"
cmake --build "$build"
export ASAN_OPTIONS=abort_on_error=0:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
ctest --output-on-failure -j2 --timeout 1200 "$@"
