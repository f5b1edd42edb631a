#!/usr/bin/env bash
# fetch-kernel.sh DIR: puts Debian's kernel as an uncompressed ELF image (DIR/vmlinux, for
# QEMU's PVH boot) and its hid, hid-generic and uhid modules (DIR/modules/) in DIR. The
# kernel package is fetched with apt-get download, not installed. Does nothing when DIR
# already holds them.
set -euo pipefail
dir=${1:?usage: fetch-kernel.sh DIR}
mkdir -p "$(dirname "$dir")"
dir=$(cd "$(dirname "$dir")" && pwd)/$(basename "$dir")
modules=(hid hid-generic uhid)
if [ -s "$dir/vmlinux" ] && [ -s "$dir/modules/uhid.ko" ]; then
  exit 0
fi
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}
package=$(kernel_package)
if [ -z "$package" ]; then
  apt-get -q -o DPkg::Lock::Timeout=300 update >&2 || true
  package=$(kernel_package)
fi
if [ -z "$package" ]; then
  echo "fetch-kernel: apt knows no linux-image-amd64 package" >&2
  exit 1
fi
work=$dir.part
rm -rf "$work"
mkdir -p "$work/modules"
(cd "$work" && apt-get -q -o APT::Sandbox::User=root download "$package") >&2
deb=$(ls "$work"/*.deb)
(cd "$work" && dpkg-deb --fsys-tarfile "$deb" |
  tar -x --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/hid/hid.ko*' \
      './lib/modules/*/kernel/drivers/hid/hid-generic.ko*' \
      './lib/modules/*/kernel/drivers/hid/uhid.ko*')
for name in "${modules[@]}"; do
  file=$(ls "$work"/lib/modules/*/kernel/drivers/hid/"$name".ko*)
  case $file in
    *.ko) cp "$file" "$work/modules/$name.ko" ;;
    *.ko.xz) xz -dc "$file" >"$work/modules/$name.ko" ;;
    *.ko.zst) zstd -qdc "$file" >"$work/modules/$name.ko" ;;
    *) echo "fetch-kernel: unknown module file $file" >&2; exit 1 ;;
  esac
done
# vmlinuz is a boot stub followed by the XZ-compressed kernel; booting the uncompressed
# ELF saves decompressing it under emulation.
vmlinuz=$(ls "$work"/boot/vmlinuz-*)
offset=$(LC_ALL=C grep -m 1 -obUaP '\xFD7zXZ\x00' "$vmlinuz" | cut -d: -f1)
if [ -z "$offset" ]; then
  echo "fetch-kernel: no XZ stream in $vmlinuz" >&2
  exit 1
fi
xz -dc --single-stream < <(tail -c +$((offset + 1)) "$vmlinuz") >"$work/vmlinux"
if [ "$(head -c 4 "$work/vmlinux" | od -An -tx1 | tr -d ' ')" != 7f454c46 ]; then
  echo "fetch-kernel: $vmlinuz did not give an ELF image" >&2
  exit 1
fi
echo "$package" >"$work/package"
rm -rf "$work/boot" "$work/lib" "$deb"
rm -rf "$dir"
mv "$work" "$dir"
