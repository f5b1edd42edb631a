#!/bin/sh
# images.sh OSTREL_SIM DATA: the images the scenario list loads (scenarios.sh), made into
# DATA: a maximum-size HEX file and what objcopy makes of it, two Fullrom images (old and
# new), and an erased bridge flash. Used by the kernel path and the Windows scenarios alike.
set -eu
sim=$1 data=$2
mkdir -p "$data"
"$sim" hex "$data/firmware.hex" --seed 7
objcopy -I ihex -O binary "$data/firmware.hex" "$data/firmware.bin"
"$sim" fullrom "$data/old.fullrom" --seed 1 --bridge-version "VXR7200 FW 1.5"
"$sim" fullrom "$data/new.fullrom" --seed 2 --bridge-version "VXR7200 FW 2.0"
head -c 524288 /dev/zero | tr '\0' '\377' >"$data/erased.bin"
