#!/usr/bin/env bash
# make-guest.sh BUILD_DIR VM_DIR: makes VM_DIR/initramfs.cpio.gz, the guest's whole file
# system: busybox-static, /init, the kernel's HID modules (VM_DIR/kernel, see
# fetch-kernel.sh), the shipped program with the libraries it is linked against (the
# system's libhidapi-hidraw, never the stand-in), ostrel_uhid and ostrel_sim with theirs,
# ostrel_hid_probe (also on the system's hidapi), the scenario list, the images it loads, and the transcripts of the same scenarios run
# here through the stand-in, which the guest's runs must match.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: make-guest.sh BUILD_DIR VM_DIR}
vm=${2:?usage: make-guest.sh BUILD_DIR VM_DIR}
root=$vm/root
binaries=(ostrel_firmware_update ostrel_hid_probe ostrel_uhid ostrel_sim)

rm -rf "$root" "$vm/data" "$vm/expected"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,modules,vm/bin} "$vm/data"

sim=$build/ostrel_sim
data=$vm/data
"$here/images.sh" "$sim" "$data"

# The same scenarios through the stand-in: they must pass here, and their transcripts are
# what the kernel path must reproduce.
if ! "$here/scenarios.sh" standin "$build" "$data" "$vm/expected" >"$vm/standin.txt"; then
  cat "$vm/standin.txt" >&2
  echo "make-guest: the scenarios fail through the stand-in already" >&2
  exit 1
fi
mkdir -p "$root/vm/expected"
cp "$vm"/expected/*.{out,err,status,log,state} "$root/vm/expected/"
cp -r "$data" "$root/vm/data"

printf 'root:x:0:0:root:/:/bin/sh\nostrel:x:1000:1000:ostrel:/tmp:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\nostrel:x:1000:\n' >"$root/etc/group"
cp /bin/busybox "$root/bin/busybox"
if ldd "$root/bin/busybox" >/dev/null 2>&1; then
  echo "make-guest: /bin/busybox is not static (install busybox-static)" >&2
  exit 1
fi
cp "$vm"/kernel/modules/*.ko "$root/modules/"
cp "$here/guest-init.sh" "$root/init"
cp "$here/scenarios.sh" "$root/vm/scenarios.sh"

# The binaries and every library they load, at the paths they are loaded from.
for name in "${binaries[@]}"; do
  cp "$build/$name" "$root/vm/bin/"
  env -u LD_LIBRARY_PATH -u LD_PRELOAD ldd "$build/$name" |
    awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^\//) print $i }' |
    while read -r library; do
      mkdir -p "$root$(dirname "$library")"
      cp -L "$library" "$root$library"
    done
done
hidapi=$(env -u LD_LIBRARY_PATH ldd "$build/ostrel_firmware_update" |
         awk '/libhidapi-hidraw/ { print $3 }')
case $hidapi in
  /lib/*|/usr/lib/*) ;;
  *) echo "make-guest: the program does not load the system's hidapi ($hidapi)" >&2; exit 1 ;;
esac
[ -f /etc/ld.so.cache ] && cp /etc/ld.so.cache "$root/etc/"

(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet | gzip -1) >"$vm/initramfs.cpio.gz"
