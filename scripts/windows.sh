#!/usr/bin/env bash
# The Windows build on Linux, and the scenarios under Wine:
#   scripts/windows.sh            install MinGW-w64 and Wine, fetch and build hidapi for
#                                 Windows, cross-build the program with warnings as errors,
#                                 make the zip, and run the scenario list with the Windows
#                                 program under Wine, each compared with the Linux run
#   scripts/windows.sh --zip      stop after the zip
# Root or sudo for apt. Build directories: build-windows-hidapi/ (hidapi's Debian source
# package, its Windows build), build-windows/ (the program, the zip, the Windows stand-in
# libhidapi.dll, the Wine prefix, the scenario runs), build-windows-linux/ (the Linux
# program and ostrel_sim that the Windows runs are compared with; WINDOWS_LINUX_BUILD_DIR
# names another Linux build tree to use instead). doc/windows.md.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
hid=$root/build-windows-hidapi
win=$root/build-windows
linux=$(realpath -m "${WINDOWS_LINUX_BUILD_DIR:-$root/build-windows-linux}")
now() { date +%s.%N; }
took() { awk -v s="$1" -v e="$(now)" 'BEGIN { printf "%.1f s", e - s }'; }

start=$(now)
scripts/setup.sh --run-only
scripts/windows/prepare.sh "$hid"
echo "windows: MinGW-w64, Wine and hidapi's sources ($(took "$start"))"

start=$(now)
if [ ! -f "$hid/install/bin/libhidapi.dll" ]; then
  cmake -S "$hid/hidapi-src" -B "$hid/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/windows-toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX="$hid/install" >/dev/null
  cmake --build "$hid/build" >/dev/null
  cmake --install "$hid/build" --strip >/dev/null  # the zip ships this DLL as it is
fi
# The JSON library is header only: Debian's, in a prefix that holds nothing else, since
# /usr/include on the cross compiler's path would bring in Linux's C headers.
json=$win/nlohmann-json
mkdir -p "$json/include" "$json/share/cmake"
ln -sfn /usr/include/nlohmann "$json/include/nlohmann"
ln -sfn /usr/share/cmake/nlohmann_json "$json/share/cmake/nlohmann_json"
cmake -S . -B "$win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/windows-toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DOSTREL_WERROR=ON -DOSTREL_BUILD_SIM=ON \
  -Dhidapi_DIR="$hid/install/lib/cmake/hidapi" -DOSTREL_HIDAPI_SOURCE_DIR="$hid/hidapi-src" \
  -Dnlohmann_json_DIR="$json/share/cmake/nlohmann_json" >/dev/null
cmake --build "$win"
rm -f "$win"/ostrel_firmware_update-*.zip
(cd "$win" && cpack -G ZIP >/dev/null)
zip_file=$(ls "$win"/ostrel_firmware_update-*.zip)
echo "windows: $(basename "$zip_file"), $(stat -c %s "$zip_file") bytes ($(took "$start"))"
listing=$(unzip -l "$zip_file")
echo "$listing"
# From a variable: grep -q on a pipe may end before unzip does, and pipefail then fails.
grep -q "/licences/ostrel_firmware_update/LICENSE.txt$" <<<"$listing" ||
  { echo "windows: no licence in the zip" >&2; exit 1; }
[ "${1:-}" = --zip ] && exit 0

# The Linux side: the program and ostrel_sim that the Windows runs are compared with.
start=$(now)
# An existing build tree (WINDOWS_LINUX_BUILD_DIR, e.g. CI's build/) is only brought up to date.
[ -f "$linux/CMakeCache.txt" ] ||
  cmake -S . -B "$linux" -G Ninja -DOSTREL_WERROR=ON -DOSTREL_BUILD_TESTS=OFF \
    -DOSTREL_BUILD_SIM=ON >/dev/null
cmake --build "$linux" --target ostrel_firmware_update ostrel_sim >/dev/null
echo "windows: Linux program and ostrel_sim ($(took "$start"))"

scripts/windows/scenarios.sh "$zip_file" "$win" "$linux"
