#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan on) and runs each for a set time
# on a scratch copy of its seed corpus in fuzz/corpus/. Exits non-zero when a target finds
# anything (a crash, a sanitizer report, a broken property, a hang or a leak); the input
# that did it is kept in BUILD_DIR/fuzz-findings/TARGET/.
#   scripts/fuzz.sh [SECONDS]      seconds per target, default 60
#   FUZZ_BUILD_DIR=dir             build directory, default build-fuzz
#   FUZZ_TARGETS="hex_reader ..."  the targets to run, default all three
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
read -r -a targets <<<"${FUZZ_TARGETS:-hex_reader faulty_device device_replies}"

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DOSTREL_WERROR=ON \
    -DOSTREL_BUILD_FUZZERS=ON >/dev/null
ninja -C "$build" -j2 "${targets[@]/#/fuzz_}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in "${targets[@]}"; do
    work=$scratch/$target
    mkdir -p "$work/corpus" "$work/findings"
    cp fuzz/corpus/"$target"/* "$work/corpus/"
    start=$(date +%s)
    # -timeout: one input taking this long is a hang; the targets take milliseconds each.
    rc=0
    "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/findings/" "$work/corpus" \
        >"$work/log" 2>&1 || rc=$?
    took=$(($(date +%s) - start))
    last=$(grep -E '^#[0-9]+' "$work/log" | tail -n 1 || true)
    echo "fuzz_$target: ${took} s, exit $rc: ${last:-no progress line}"
    if [ "$rc" -ne 0 ] || [ -n "$(ls -A "$work/findings")" ]; then
        status=1
        tail -n 40 "$work/log"
        mkdir -p "$build/fuzz-findings/$target"
        cp -r "$work/findings/." "$build/fuzz-findings/$target/"
        echo "fuzz_$target: finding kept in $build/fuzz-findings/$target/"
    fi
done
exit $status
