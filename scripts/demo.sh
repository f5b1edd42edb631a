#!/usr/bin/env bash
# Sets up the machine, builds, and runs the program against a fresh virtual Ostrel.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" >/dev/null
sim="$build/ostrel_sim"
program="$build/ostrel_firmware_update"
device=$(mktemp -d)
trap 'rm -rf "$device"' EXIT

echo "== a virtual Ostrel in $device"
"$sim" init "$device" --app-version "OSTREL-APP 1.0.0" --bridge-version "VXR7200 FW 1.0"
echo "== ostrel_firmware_update -v -r -b   (-b switches the device to its bootloader)"
"$sim" run "$device" -- "$program" -v -r -b | tr -d '\000'
echo "== the device afterwards"
"$sim" show "$device"
echo "== the requests it received"
"$sim" log "$device"
