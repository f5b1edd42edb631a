#!/usr/bin/env bash
# The help block of the README is what `ostrel_firmware_update -h` prints, byte for byte.
set -euo pipefail
program=$1 readme=$2
documented=$(awk '/^## Using the program/ {section = 1} section && /^```/ {if (inside) exit; inside = 1; next} inside' "$readme")
actual=$("$program" -h)
if [ "$documented" != "$actual" ]; then
  diff <(printf '%s\n' "$documented") <(printf '%s\n' "$actual") >&2 || true
  echo "FAIL: the README's help block differs from the program's -h" >&2
  exit 1
fi
