#!/usr/bin/env bash
# Several Ostrels updated at once, one process per device, as a test station does (README,
# "Several Ostrels on one host"): a full -f of the whole application area on 1, 2, 4 and 8
# virtual devices with the same device latency, all on the virtual USB together. Prints the
# wall time of each round against one device's, and the host CPU per device. The goal is 8
# devices within 1.2 x one device's wall time on a 2-core machine. Speed is reported, never
# asserted: the script ends with status 0 whatever the figures.
#
# Usage: bench/parallel_devices.sh [BUILD_DIR]   (default: build; needs ostrel_sim and the
# program built there). Environment: OSTREL_BENCH_LATENCY_US (default 100).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
latency_us=${OSTREL_BENCH_LATENCY_US:-100}
sim=$build/ostrel_sim
program=$build/ostrel_firmware_update
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$sim" hex "$work/app.hex" >/dev/null

TIMEFORMAT='%R %U %S'
one_wall=""
printf '%-8s %10s %12s %14s\n' devices "wall (s)" "x one's" "CPU/device (s)"
for count in 1 2 4 8; do
  dirs=()
  for ((i = 1; i <= count; ++i)); do
    # Ports unlike any a test uses, so that the lock files never meet a test's.
    "$sim" init "$work/d$count-$i" --port "97-$i" --latency-us "$latency_us" >/dev/null
    dirs+=("$work/d$count-$i")
  done
  times=$( { time {
    for ((i = 1; i <= count; ++i)); do
      "$sim" run "${dirs[@]}" -- "$program" -d "97-$i" -f "$work/app.hex" \
        >"$work/run$count-$i.log" 2>&1 || echo "device $i of $count: status $?" >&2 &
    done
    wait
  } ; } 2>&1 | tail -n 1)
  read -r wall user system <<<"$times"
  one_wall=${one_wall:-$wall}
  awk -v n="$count" -v w="$wall" -v one="$one_wall" -v u="$user" -v s="$system" \
    'BEGIN { printf "%-8d %10.2f %12.2f %14.3f\n", n, w, w / one, (u + s) / n }'
done
