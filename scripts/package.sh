#!/usr/bin/env bash
# Builds the Debian package, installs it with dpkg, runs the installed program against a
# virtual Ostrel (help text and a version query), checks its licence, and removes the
# package again.
# Needs root (or sudo) for dpkg.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${BUILD_DIR:-build}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" >/dev/null
(cd "$build" && rm -f ostrel-firmware-update_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/ostrel-firmware-update_*.deb)
echo "== $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
dpkg-deb --contents "$deb"

$sudo dpkg -i "$deb"
trap '$sudo dpkg -r ostrel-firmware-update >/dev/null' EXIT
installed=/usr/bin/ostrel_firmware_update
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$("$installed" -h | head -1)" = "ostrel_firmware_update" ] || fail "installed -h"
[ -f /usr/lib/udev/rules.d/70-ostrel.rules ] || fail "udev rule not installed"
[ -f /usr/share/man/man1/ostrel_firmware_update.1.gz ] ||
  [ -f /usr/share/man/man1/ostrel_firmware_update.1 ] || fail "man page not installed"
cmp -s -n "$(stat -c %s LICENSE)" LICENSE /usr/share/doc/ostrel-firmware-update/copyright ||
  fail "licence not installed"

device=$(mktemp -d)
trap 'rm -rf "$device"; $sudo dpkg -r ostrel-firmware-update >/dev/null' EXIT
"$build/ostrel_sim" init "$device" --app-version "PACKAGED 1.0" >/dev/null
version=$("$build/ostrel_sim" run "$device" -- "$installed" -v | tr -d '\000')
[ "$version" = "application version: PACKAGED 1.0" ] || fail "installed -v said '$version'"
echo "installed program: help text and version query ok"
