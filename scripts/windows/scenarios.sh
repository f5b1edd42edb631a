#!/usr/bin/env bash
# scenarios.sh ZIP WINDOWS_BUILD LINUX_BUILD: the scenario list (scripts/vm/scenarios.sh)
# with the Linux program and its stand-in, then with the program from the Windows zip under
# Wine and the Windows stand-in (WINDOWS_BUILD/ostrel_sim_hidapi/libhidapi.dll), on the same
# images; every Windows run's output, error output and status, and every device's request
# log and final state, must be the Linux run's. Ends with "windows scenarios: N passed, N
# failed", and fails when any failed. Runs in WINDOWS_BUILD/scenarios.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
zip_file=$(realpath "$1") win=$(realpath "$2") linux=$(realpath "$3")
sim=$linux/ostrel_sim
runs=$win/scenarios
rm -rf "$runs"
mkdir -p "$runs"/{data,linux-bin,windows-bin,zip}
now() { date +%s.%N; }
took() { awk -v s="$1" -v e="$(now)" 'BEGIN { printf "%.1f s", e - s }'; }

# Wine, headless and quiet: a prefix of its own, made once (it prints even with
# WINEDEBUG=-all) and away from any pipe (its background processes would inherit it), no
# debugger on a crash (the status would be 0 or 5 at random), and a wineserver kept up for
# the whole list (a program then starts in about 0.1 s instead of 1 s).
export WINEPREFIX=$win/wine WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d
start=$(now)
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1 || { echo "windows: Wine does not start" >&2; exit 1; }
echo "windows: Wine prefix and server ($(took "$start"))"

# The images, as the kernel path's, and the files that Windows reads differently.
data=$runs/data
"$here/../vm/images.sh" "$sim" "$data"
"$sim" hex "$data/small.hex" --size 0x600 --seed 3
sed 's/$/\r/' "$data/small.hex" >"$data/crlf.hex"
cp "$data/small.hex" "$data/прошивка-固件.hex"
{ head -n -1 "$data/small.hex"; printf '\032\n'; tail -n 1 "$data/small.hex"; } >"$data/ctrlz.hex"
{ cat "$data/small.hex"; printf '\032'; } >"$data/ctrlz-end.hex"
{ head -n -2 "$data/small.hex"; tail -n 2 "$data/small.hex" | sed '1s/^\(.\{20\}\)/\1\x1a/'; } \
  >"$data/ctrlz-record.hex"

# The programs: Linux's beside ostrel_sim, the zip's .exe alone (the real libhidapi.dll of
# the zip would win over the stand-in, which Wine finds on WINEPATH).
ln -s "$linux/ostrel_firmware_update" "$sim" "$runs/linux-bin/"
ln -s "$sim" "$runs/windows-bin/"
unzip -q "$zip_file" -d "$runs/zip"
cp "$runs"/zip/*/ostrel_firmware_update.exe "$runs/windows-bin/"
export OSTREL_SCENARIO_SET=windows

start=$(now)
"$here/../vm/scenarios.sh" standin "$runs/linux-bin" "$data" "$runs/linux" >"$runs/linux.txt"
linux_status=$?
echo "windows: the Linux runs ($(tail -n 1 "$runs/linux.txt"), $(took "$start"))"
[ $linux_status -eq 0 ] || { cat "$runs/linux.txt"; echo "windows: the Linux runs failed" >&2; }

start=$(now)
OSTREL_SIM_LIBDIR=$win/ostrel_sim_hidapi \
  "$here/../vm/scenarios.sh" windows "$runs/windows-bin" "$data" "$runs/windows" "$runs/linux"
status=$?
echo "windows: the Windows runs under Wine ($(took "$start"))"
[ $linux_status -eq 0 ] && [ $status -eq 0 ]
