#!/usr/bin/env bash
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# tests under them: the program, the virtual device and the tests are all instrumented, and
# any report fails the test that provoked it.
#   scripts/sanitize.sh                every test but the sweeps (label sweep: the same code
#                                      as the everyday tests, faulted at thousands of points
#                                      over and over) and the kernel path (label vm: a QEMU
#                                      guest, where the sanitizers see no more than here)
#   scripts/sanitize.sh CTEST-ARGS...  the tests ctest selects with them, e.g. -L sweep
#   SAN_BUILD_DIR=dir                  build directory, default build-asan
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${SAN_BUILD_DIR:-build-asan}
# -O1 and line tables only (-g1): the reports keep their file:line stack traces, and the
# build takes half the compiler time of -O2 -g.
# GCC's -Wmaybe-uninitialized misfires on instrumented code (std::optional<std::string>).
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
flags+=" -Wno-maybe-uninitialized"
cmake -S . -B "$build" -G Ninja -DOSTREL_WERROR=ON -DOSTREL_BUILD_TESTS=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined"
cmake --build "$build"
export ASAN_OPTIONS=abort_on_error=0:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
[ $# -gt 0 ] || set -- -LE '^(sweep|vm)$'
cd "$build"
ctest --output-on-failure -j2 --timeout 1200 "$@"
