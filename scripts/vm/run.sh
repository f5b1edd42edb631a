#!/usr/bin/env bash
# run.sh BUILD_DIR: runs the shipped program, linked against the system's hidapi, against
# the virtual Ostrel through the Linux kernel's HID stack. Boots Debian's kernel under
# QEMU (software emulation) with the device presented through uhid, and runs the scenario
# list (scenarios.sh) inside. Fails loudly when the guest cannot be built or started.
# The kernel is fetched once and kept in BUILD_DIR/vm/kernel.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd) || exit 1
vm=$build/vm
mkdir -p "$vm"

fail() {
  echo "kernel_hid_vm: FAILED: $*" >&2
  exit 1
}
now() { date +%s.%N; }
took() { awk -v s="$1" -v e="$(now)" 'BEGIN { printf "%.1f s", e - s }'; }

qemu=${QEMU:-qemu-system-x86_64}
for tool in "$qemu" apt-get dpkg-deb cpio gzip xz zstd objcopy timeout; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/setup.sh"
done
for name in ostrel_firmware_update ostrel_hid_probe ostrel_uhid ostrel_sim; do
  [ -x "$build/$name" ] || fail "$build/$name is not built"
done

start=$(now)
"$here/fetch-kernel.sh" "$vm/kernel" || fail "could not fetch Debian's kernel package"
echo "kernel: $(cat "$vm/kernel/package") ($(took "$start"))"

start=$(now)
"$here/make-guest.sh" "$build" "$vm" || fail "could not build the guest"
echo "guest: $(du -h "$vm/initramfs.cpio.gz" | cut -f1) initramfs ($(took "$start"))"

start=$(now)
# One processor: ostrel_uhid, which runs first in the guest, then takes every report the
# moment the program writes it, however busy the host is (uhid drops what overflows its
# queue of 32 events, where a USB device would make the write wait).
timeout 540 "$qemu" -accel tcg -m 512 -smp 1 -display none -serial stdio \
  -monitor none -no-reboot -nic none -kernel "$vm/kernel/vmlinux" \
  -initrd "$vm/initramfs.cpio.gz" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 OSTREL_VM_ONLY=${OSTREL_VM_ONLY:-}" \
  -device isa-debug-exit,iobase=0xf4,iosize=0x04 </dev/null | tr -d '\r' | tee "$vm/serial.log"
status=${PIPESTATUS[0]}
echo "qemu: exit status $status ($(took "$start"))"
case $status in
  1) ;;
  3) fail "scenarios failed in the guest (see above)" ;;
  124) fail "the guest did not finish within 540 s" ;;
  *) fail "the guest did not start or did not report a result (qemu status $status)" ;;
esac
grep -q '^vm scenarios: [1-9][0-9]* passed, 0 failed$' "$vm/serial.log" ||
  fail "the guest reported success without a passing scenario list"
echo "kernel_hid_vm: every scenario passed through the kernel's HID stack"
