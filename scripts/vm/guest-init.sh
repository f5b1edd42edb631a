#!/bin/busybox sh
# /init of the guest: mounts what the kernel's HID stack and hidapi need, loads the HID
# modules, runs the scenarios and reports the result through QEMU's isa-debug-exit port
# (0 for success; QEMU then exits with (value << 1) | 1).
/bin/busybox --install -s /bin
mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t tmpfs tmpfs /tmp
echo "guest: user space at $(cut -d' ' -f1 /proc/uptime) s"
result=1
if insmod /modules/hid.ko && insmod /modules/hid-generic.ko && insmod /modules/uhid.ko; then
    start=$(cut -d' ' -f1 /proc/uptime)
    sh /vm/scenarios.sh kernel /vm/bin /vm/data /tmp/work /vm/expected
    result=$?
    echo "guest: scenarios took $(awk -v s="$start" '{ printf "%.1f", $1 - s }' /proc/uptime) s"
else
    echo "guest: cannot load the HID modules"
fi
printf "\\$(printf %03o "$result")" | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null
poweroff -f
