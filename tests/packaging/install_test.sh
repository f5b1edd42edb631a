#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what lands where: the program, the
# man page, the licences where Debian keeps them, the completion (and that it completes what
# it should), the udev rule with the build's vendor id for both identities, and no virtual
# device unless asked for.
set -euo pipefail
cmake=$1 build=$2 vendor=$3 install_sim=$4 licence=$5
prefix=$(mktemp -d) files=$(mktemp -d)
trap 'rm -rf "$prefix" "$files"' EXIT
"$cmake" --install "$build" --prefix "$prefix/usr" >/dev/null
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -x "$prefix/usr/bin/ostrel_firmware_update" ] || fail "program not installed"
[ -f "$prefix/usr/share/man/man1/ostrel_firmware_update.1" ] || fail "man page not installed"
copyright="$prefix/usr/share/doc/ostrel-firmware-update/copyright"
cmp -s -n "$(stat -c %s "$licence")" "$licence" "$copyright" && grep -q nlohmann "$copyright" ||
  fail "licences not installed as share/doc/ostrel-firmware-update/copyright"
completion="$prefix/usr/share/bash-completion/completions/ostrel_firmware_update"
[ -f "$completion" ] || fail "bash completion not installed"
case $install_sim in
  ON|on|1|TRUE|true) ;;
  *) [ ! -e "$prefix/usr/bin/ostrel_sim" ] || fail "virtual device installed without being asked" ;;
esac

rule="$prefix/usr/lib/udev/rules.d/70-ostrel.rules"
[ -f "$rule" ] || fail "udev rule not installed"
want_vendor=$(printf '%04x' "$((vendor))")
seen=""
while IFS= read -r line; do
  case $line in ''|'#'*) continue ;; esac
  subsystem=$(sed -n 's/.*SUBSYSTEM=="\([a-z]*\)".*/\1/p' <<<"$line")
  got_vendor=$(sed -n 's/.*idVendor}=="\([0-9a-f]*\)".*/\1/p' <<<"$line")
  product=$(sed -n 's/.*idProduct}=="\([0-9a-f]*\)".*/\1/p' <<<"$line")
  [ "$got_vendor" = "$want_vendor" ] || fail "rule has vendor '$got_vendor', program was built with $want_vendor"
  grep -q 'TAG+="uaccess"' <<<"$line" || fail "rule line without uaccess: $line"
  seen="$seen $subsystem:$product"
done <"$rule"
for want in hidraw:0101 hidraw:4004 usb:0101 usb:4004; do
  grep -qw "$want" <<<"$seen" || fail "rule does not cover $want (has:$seen)"
done

# The completion offers HEX files after -f, Fullrom files after -u (then any file but a HEX
# file), the attached devices after -d, options otherwise.
cd "$files"
touch app.hex notes.txt bridge.fullrom
complete_for() {
  bash -c 'compopt() { :; }; source "$0"; COMP_WORDS=(ostrel_firmware_update "$@");
           COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 )); _ostrel_firmware_update;
           printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' "$completion" "$@"
}
[ "$(complete_for -f '')" = "app.hex " ] || fail "-f completes '$(complete_for -f '')'"
[ "$(complete_for -u '')" = "bridge.fullrom " ] || fail "-u completes '$(complete_for -u '')'"
[ "$(complete_for -u 'n')" = "notes.txt " ] || fail "-u falls back to any file"
[ "$(complete_for -u 'a')" = " " ] || fail "-u offers a HEX file: '$(complete_for -u 'a')'"
[ "$(complete_for '-')" = "-b -d -f -h -l -r -u -v " ] || fail "options complete as '$(complete_for '-')'"
# -d offers the ports and serial numbers that -l lists (here from a stand-in for the program).
mkdir bin
printf '#!/bin/sh\nprintf "application\\t1-2\\tA7\\t/dev/hidraw1\\nbootloader\\t1-3\\t-\\t/dev/hidraw2\\n"\n' \
  >bin/ostrel_firmware_update
chmod +x bin/ostrel_firmware_update
picks=$(PATH="$files/bin:$PATH" complete_for -d '')
[ "$picks" = "1-2 1-3 A7 " ] || fail "-d completes '$picks'"
echo "install layout ok"
