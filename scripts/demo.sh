#!/usr/bin/env bash
# Sets up the machine, builds, and runs the program's main job against a fresh virtual
# Ostrel: the three version queries, a microcontroller load and a bridge update.
# Installs and builds only the program and the virtual device (no tests), in build-demo/
# unless DEMO_BUILD_DIR names another directory.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --run-only
build=${DEMO_BUILD_DIR:-build-demo}
cmake -S . -B "$build" -G Ninja -DOSTREL_BUILD_TESTS=OFF -DOSTREL_BUILD_SIM=ON >/dev/null
cmake --build "$build" --target ostrel_firmware_update ostrel_sim >/dev/null
sim="$build/ostrel_sim"
program="$build/ostrel_firmware_update"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
device="$work/device"

step() { printf '\n== %s\n' "$*"; }
run() { "$sim" run "$device" -- "$program" "$@" | tr -d '\000'; }

step "a virtual Ostrel in $device"
"$sim" init "$device" --reenumeration-ms 200
"$sim" show "$device"

step "ostrel_firmware_update -v -r -b   (-b leaves the device in its bootloader)"
run -v -r -b

step "a firmware image for the microcontroller (0x7C000 bytes at 0x404000) and a Fullrom image"
"$sim" hex "$work/firmware.hex" --size 0x7C000
"$sim" fullrom "$work/bridge.fullrom" --bridge-version "VXR7200 FW 2.0"
ls -l "$work/firmware.hex" "$work/bridge.fullrom"

step "ostrel_firmware_update -f firmware.hex -u bridge.fullrom   (progress lines shortened)"
run -f "$work/firmware.hex" -u "$work/bridge.fullrom" | awk '
  /^Firmware progress/ { if (f++ % 100) next }
  /^VXR firmware progress/ { if (v++ % 10) next }
  { print }'

step "the bridge reports its new firmware; a second update finds nothing to do"
run -r -u "$work/bridge.fullrom"

step "the flash of both parts, as the device holds it"
"$sim" dump "$device" --mcu "$work/mcu.bin"
objcopy -I ihex -O binary "$work/firmware.hex" "$work/expected.bin"
cmp "$work/mcu.bin" "$work/expected.bin" && echo "microcontroller flash matches firmware.hex"
"$sim" show "$device"
