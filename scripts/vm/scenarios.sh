#!/bin/sh
# The scenario list of the kernel-path check, for busybox sh (also runs under bash).
#
#   scenarios.sh kernel  BIN DATA WORK [EXPECTED]
#   scenarios.sh standin BIN DATA WORK
#   scenarios.sh windows BIN DATA WORK [EXPECTED]
#
# kernel:  the shipped program reaches the virtual Ostrel through the system's hidapi and
#          the kernel's hidraw driver; `ostrel_uhid` presents the device through /dev/uhid.
# standin: the same scenarios through `ostrel_sim run` and the hidapi stand-in.
# windows: the Windows program (BIN/ostrel_firmware_update.exe) under Wine, through
#          `ostrel_sim run` and the Windows stand-in libhidapi.dll (OSTREL_SIM_LIBDIR names
#          its folder; WINEPREFIX and the rest as scripts/windows.sh sets them).
#
# BIN holds ostrel_firmware_update, ostrel_hid_probe, ostrel_sim (and ostrel_uhid); DATA
# the images (the program runs there, so that file names and its output are the same in
# both modes); WORK receives the devices and every run's transcript. With EXPECTED (a
# standin run's WORK), each run's output, error output and status, each device's request
# log and its final state must also match the stand-in's. In kernel mode the program runs
# as the user `ostrel`, so the hidraw node's rights apply to it.
#
# Prints "PASS name (time)" or "FAIL name (time): what" per scenario and "vm scenarios: N
# passed, N failed" ("windows scenarios: ..." in windows mode); the exit status is 0 only when
# every scenario passed. OSTREL_VM_ONLY (names, comma-separated) picks scenarios;
# OSTREL_SCENARIO_SET=windows adds those about files that Windows reads differently and a
# killed run (and leaves out the hidapi probe, which has no Windows build).
mode=$1 bin=$2 data=$3 work=$4 expected=${5:-}
program=$bin/ostrel_firmware_update
[ "$mode" = windows ] && program=$bin/ostrel_firmware_update.exe
sim=$bin/ostrel_sim
passed=0 failed=0
mkdir -p "$work" || exit 1
# The runs' own lock folder: a lock that another program's run holds in the system's folder
# (a test suite beside this one) would make "absent" read "another run is working".
# The kernel mode runs alone in its guest; Windows keeps its lock folder in the Wine prefix.
if [ "$mode" = standin ]; then
    mkdir -p "$work/locks" && chmod 1777 "$work/locks" || exit 1
    export OSTREL_LOCK_DIR="$work/locks"
fi

# ---- the device --------------------------------------------------------------------

uhid_pid=
# A fresh device for scenario $name from `ostrel_sim init` options, presented to the
# kernel in kernel mode.
begin() {
    name=$1
    shift
    problems=
    run_count=0
    started=$(cut -d' ' -f1 /proc/uptime)
    device=$work/$name
    devices=$device
    (cd "$data" && "$sim" init "$device" --reenumeration-ms 500 "$@") || problem "init failed"
    start_device
}

# A second device beside the first, on the virtual USB (or to the kernel) at the same time,
# from `ostrel_sim init` options; $other names it.
begin_other() {
    other=$work/${name}_b
    devices="$device $other"
    (cd "$data" && "$sim" init "$other" --reenumeration-ms 500 "$@") || problem "init failed"
    [ "$mode" = kernel ] || return 0
    "$bin/ostrel_uhid" "$other" &
    other_pid=$!
    tries=0
    while [ "$(ls /sys/class/hidraw | wc -l)" -lt 2 ] && [ $tries -lt 50 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    wait_access 666
}

# Waits (5 s at most) until the kernel lists a hidraw device, or lists none.
wait_hidraw() {
    tries=0
    while [ $tries -lt 50 ]; do
        if [ -n "$(ls /sys/class/hidraw 2>/dev/null)" ]; then
            [ "$1" = listed ] && return 0
        else
            [ "$1" = gone ] && return 0
        fi
        sleep 0.1
        tries=$((tries + 1))
    done
    return 1
}

start_device() {
    [ "$mode" = kernel ] || return 0
    dmesg -c >/dev/null
    "$bin/ostrel_uhid" "$device" &
    uhid_pid=$!
    if "$sim" show "$device" | grep -q '"mode": "absent"'; then
        return 0
    fi
    wait_hidraw listed || problem "the kernel did not list the device"
    wait_access 666
}

# Waits (2 s at most) until ostrel_uhid has given the hidraw node the rights in $1.
wait_access() {
    [ "$mode" = kernel ] || return 0
    tries=0
    while [ $tries -lt 20 ]; do
        [ -z "$(stat -c %a /dev/hidraw* 2>/dev/null | grep -v "^$1\$")" ] && return 0
        sleep 0.1
        tries=$((tries + 1))
    done
    problem "the hidraw node did not get the rights $1"
}

stop_device() {
    if [ -n "${other_pid:-}" ]; then
        kill "$other_pid"
        wait "$other_pid"
        other_pid=
    fi
    [ -n "$uhid_pid" ] || return 0
    # uhid drops reports when the device process falls behind; that would be a fault of
    # this set-up, not of the program.
    ! dmesg | grep -q "queue is full" || problem "the kernel's uhid queue overflowed"
    kill "$uhid_pid"
    wait "$uhid_pid"
    uhid_pid=
    wait_hidraw gone || problem "the device did not leave"
}

# Puts the device back on USB, as a person with the cable.
plug() {
    "$sim" plug "$device" || problem "plug failed"
    [ "$mode" = kernel ] || return 0
    wait_hidraw listed || problem "the kernel did not list the device again"
    wait_access 666
}

# Waits (3 s at most) until the devices that left USB are back.
settled() {
    tries=0
    while [ $tries -lt 30 ]; do
        back=0
        for each in $devices; do
            "$sim" show "$each" | grep -q '"returning_as": "absent"' && back=$((back + 1))
        done
        [ "$back" -eq "$(echo "$devices" | wc -w)" ] && return 0
        sleep 0.1
        tries=$((tries + 1))
    done
}

# ---- running the program -----------------------------------------------------------

# Runs PROGRAM with the arguments given; its transcript is $out, $err, $status.
run_program() {
    run_count=$((run_count + 1))
    out=$work/$name.$run_count.out
    err=$work/$name.$run_count.err
    if [ "$mode" = kernel ]; then
        # As a user, who reaches the device through the rights of its hidraw node (su
        # stops reading options at its user name only with POSIXLY_CORRECT).
        POSIXLY_CORRECT=1 su -s /bin/sh -c 'unset POSIXLY_CORRECT; cd "$0" && exec "$@"' \
            ostrel "$data" "$@" >"$out" 2>"$err"
    elif [ "$mode" = windows ]; then
        (cd "$data" && "$sim" run "$device" -- wine "$@") >"$out" 2>"$err"
    else
        # shellcheck disable=SC2086
        (cd "$data" && "$sim" run $devices -- "$@") >"$out" 2>"$err"
    fi
    status=$?
    echo "$status" >"$work/$name.$run_count.status"
}

# Runs the shipped program.
run() { run_program "$program" "$@"; }

# ---- checks ------------------------------------------------------------------------

problem() { problems="$problems; $*"; }

expect_status() {
    [ "$status" = "$1" ] || problem "run $run_count: status $status, expected $1"
}

expect_out_has() {
    grep -qF -- "$1" "$out" || problem "run $run_count: no '$1' in the output"
}

expect_err_has() {
    grep -qF -- "$1" "$err" || problem "run $run_count: no '$1' in the error output"
}

expect_no_err() {
    [ ! -s "$err" ] || problem "run $run_count: error output '$(head -c 200 "$err")'"
}

expect_out_ends() {
    [ "$(tail -n 1 "$out")" = "$1" ] || problem "run $run_count: last line not '$1'"
}

show() { "$sim" show "$device"; }

expect_show_has() {
    show | grep -qF -- "$1" || problem "state has no $1: $(show)"
}

bank_status() { show | sed 's/.*"bank_status": \([0-9]*\).*/\1/'; }

# md5 of LENGTH bytes at OFFSET of FILE (both multiples of 4 KiB).
slice() { dd if="$1" bs=4096 skip=$(($2 / 4096)) count=$(($3 / 4096)) 2>/dev/null | md5sum | cut -c1-32; }

expect_same_slice() {  # FILE_A FILE_B OFFSET LENGTH
    [ "$(slice "$1" "$3" "$4")" = "$(slice "$2" "$3" "$4")" ] ||
        problem "$(basename "$1") and $(basename "$2") differ in $4 bytes at $3"
}

dump() {  # --mcu|--bridge: the flash into $work/$name.mcu|bridge
    dumped=$work/$name.${1#--}
    "$sim" dump "$device" "$1" "$dumped" || problem "dump $1 failed"
}

# What the stand-in run of the same scenario saw: every run's transcript, the requests
# the device received and its final state (but for the count of opens, which the kernel
# reports only for successful first opens).
compare_with_expected() {
    [ -n "$expected" ] || return 0
    i=1
    while [ $i -le $run_count ]; do
        for part in out err status; do
            same_as_expected "$name.$i.$part" "run $i: $part"
        done
        i=$((i + 1))
    done
    for each in $devices; do
        same_as_expected "$(basename "$each").log" "request log"
        same_as_expected "$(basename "$each").state" "final state"
    done
}

# Whether $work/FILE is the same as the stand-in's; if not, a problem and the first lines
# of the difference (stand-in's lines first).
same_as_expected() {
    comparable "$work/$1" >"$work/$1.compared"
    comparable "$expected/$1" >"$work/$1.expected"
    cmp -s "$work/$1.compared" "$work/$1.expected" && return 0
    problem "$2 differs from the stand-in's"
    diff "$work/$1.expected" "$work/$1.compared" | head -n 60 | sed "s/^/  $name: /"
}

# A transcript as compared. What differs by design between the systems: the hint after
# "cannot be opened: " (hidraw rights on Linux, another program on Windows), and the device
# path that ends a line listing a device.
tab=$(printf '\t')
comparable() {
    sed -E -e 's/^(The Ostrel is connected but cannot be opened: ).*/\1(what blocks it on this system)/' \
        -e "s/^(application|bootloader)($tab[^$tab]*$tab[^$tab]*$tab).*/\1\2(device path)/" "$1"
}

finish() {
    settled
    for each in $devices; do
        "$sim" log "$each" >"$work/$(basename "$each").log"
        "$sim" show "$each" | sed 's/"opens": [0-9]*, //' >"$work/$(basename "$each").state"
    done
    stop_device
    compare_with_expected
    took=$(awk -v s="$started" '{ printf "%.1f s", $1 - s }' /proc/uptime)
    if [ -z "$problems" ]; then
        echo "PASS $name ($took)"
        passed=$((passed + 1))
    else
        echo "FAIL $name ($took): ${problems#; }"
        failed=$((failed + 1))
    fi
}

# ---- the scenarios -----------------------------------------------------------------

scenario_help() {
    begin help
    run -h
    expect_status 0
    expect_out_has "Usage: ostrel_firmware_update.exe [-h] [-v] [-r] [-b] [-f filename.hex] [-u filename.fullrom]"
    expect_no_err
    expect_show_has '"total": 0'
    finish
}

# -b needs the bootloader: the application is asked to switch, leaves USB and comes back
# under the bootloader's product id.
scenario_versions() {
    begin versions --app-version "OSTREL-APP 3.1.4" --bootloader-version "OSTREL-BL 2.7"
    run -v -r -b
    expect_status 0
    expect_no_err
    expect_out_has "application version: OSTREL-APP 3.1.4"
    expect_out_has "VXR7200 firmware version: VXR7200 FW 1.0"
    expect_out_has "bootloader version: OSTREL-BL 2.7"
    expect_show_has '"mode": "application"'
    expect_show_has '"application": {"*": 1, "B": 1, "N": 1}, "bootloader": {"*": 1, "B": 1}'
    finish
}

# A maximum-size image; the flash must then hold exactly what objcopy made of the file.
scenario_flash() {
    begin flash
    run -f firmware.hex
    expect_status 0
    expect_no_err
    expect_out_has "Firmware progress: 99.8992%"
    expect_out_has "Firmware load complete!"
    dump --mcu
    cmp -s "$dumped" "$data/firmware.bin" || problem "the flash differs from the image"
    finish
}

scenario_update() {
    begin update --bank-status 0 --bridge-version "VXR 1.0"
    run -u new.fullrom
    expect_status 0
    expect_no_err
    expect_out_has "Need to update config"
    expect_out_has "Need to update fw"
    expect_out_has "Need to update esm"
    expect_out_ends "VXR firmware update complete!"
    expect_show_has '"bank_status": 5'
    dump --bridge
    expect_same_slice "$dumped" "$data/new.fullrom" 0 131072
    expect_same_slice "$dumped" "$data/new.fullrom" 262144 262144
    run -u new.fullrom
    expect_status 0
    expect_no_err
    expect_out_ends "No update to VXR firmware needed"
    finish
}

scenario_erase() {
    begin erase --bridge-flash new.fullrom
    run -x KQWIPEZON
    expect_status 0
    expect_no_err
    expect_out_has "Complete"
    expect_show_has '"bank_status": 0'
    dump --bridge
    cmp -s "$dumped" "$data/erased.bin" || problem "the bridge flash is not erased"
    finish
}

scenario_absent() {
    begin absent --mode absent
    run -v
    expect_status 1
    expect_err_has "could not connect to ostrel"
    expect_show_has '"total": 0'
    finish
}

# The 5000th bridge write is refused. The update fails, and a complete valid copy of the
# config and of the firmware remains (the old or the new one); a second run completes.
scenario_refusal() {
    begin refusal --bridge-flash old.fullrom
    "$sim" fault "$device" 'refuse:app/A@5000' || problem "fault not armed"
    run -u new.fullrom
    expect_status 1
    expect_err_has "VXR firmware update failed."
    dump --bridge
    banks=$(bank_status)
    [ $((banks & 3)) -ne 0 ] || problem "no valid config bank (bank status $banks)"
    [ $((banks & 12)) -ne 0 ] || problem "no valid firmware bank (bank status $banks)"
    for bank in 1:0:32768 2:131072:32768 4:32768:98304 8:163840:98304; do
        bit=${bank%%:*} rest=${bank#*:}
        offset=${rest%%:*} length=${rest#*:}
        [ $((banks & bit)) -ne 0 ] || continue
        copy=$(slice "$dumped" "$offset" "$length")
        # Bank 1 of the images is a copy of bank 0 (0x20000 further on).
        [ "$copy" = "$(slice "$data/old.fullrom" $((offset % 131072)) "$length")" ] ||
            [ "$copy" = "$(slice "$data/new.fullrom" $((offset % 131072)) "$length")" ] ||
            problem "valid bank at $offset is not a complete copy"
    done
    run -u new.fullrom
    expect_status 0
    expect_out_ends "VXR firmware update complete!"
    finish
}

# The application restarts after -f; -u in the same run waits for it.
scenario_flash_update() {
    begin flash_update --bank-status 0
    run -f firmware.hex -u new.fullrom
    expect_status 0
    expect_no_err
    expect_out_has "Firmware load complete!"
    expect_out_ends "VXR firmware update complete!"
    dump --mcu
    cmp -s "$dumped" "$data/firmware.bin" || problem "the flash differs from the image"
    expect_show_has '"bank_status": 5'
    finish
}

# hidapi's calls themselves, as the program uses them and a little beyond: lengths,
# numbered reports, unanswered reads, a full input buffer, two handles, both mode switches.
scenario_hidapi() {
    begin hidapi
    run_program "$bin/ostrel_hid_probe"
    expect_status 0
    expect_out_has "open application: opened"
    finish
}

# The host lacks the right to open the device: the program says so.
scenario_denied() {
    begin denied
    "$sim" fault "$device" denied || problem "fault not armed"
    wait_access 600
    run -v
    expect_status 1
    expect_err_has "The Ostrel is connected but cannot be opened"
    finish
}

# The cable comes out in the middle of -u: the update fails at the first lost reply. Once
# the device is back, a second run completes it.
scenario_unplug() {
    begin unplug --bank-status 0
    "$sim" fault "$device" unplug=300 || problem "fault not armed"
    run -u new.fullrom
    expect_status 1
    expect_err_has "VXR firmware update failed."
    expect_show_has '"mode": "absent"'
    plug
    run -u new.fullrom
    expect_status 0
    expect_out_ends "VXR firmware update complete!"
    expect_show_has '"bank_status": 5'
    finish
}

# The device leaves for its bootloader and never comes back: the program gives up after
# its 15 s.
scenario_noreturn() {
    begin noreturn
    "$sim" fault "$device" noreturn || problem "fault not armed"
    run -b
    expect_status 1
    expect_err_has "could not connect to bootloader"
    expect_show_has '"mode": "absent"'
    finish
}

# Unrelated input reports without end, and three more before each bridge version reply:
# the queries find their replies among them.
scenario_noise() {
    begin noise
    "$sim" fault "$device" stream 'stray:app/N=3' || problem "fault not armed"
    run -v -r
    expect_status 0
    expect_no_err
    expect_out_has "application version: OSTREL-APP 1.0.0"
    expect_out_has "VXR7200 firmware version: VXR7200 FW 1.0"
    finish
}

# ---- where Windows differs: files, a killed run (OSTREL_SCENARIO_SET=windows) --------
# DATA also holds small.hex (a short image), ctrlz.hex (a line of a Ctrl-Z byte before its
# end record), ctrlz-end.hex (small.hex and a Ctrl-Z after it), ctrlz-record.hex (a Ctrl-Z
# inside its last data record), crlf.hex (small.hex with CR LF line ends) and a copy of small.hex named in
# Cyrillic and Chinese script.

# A Ctrl-Z (0x1A) is a byte like any other, read as it is (Windows' text mode would end the
# file there, and a Ctrl-Z line before the end record would read as a missing end record):
# at the end of the file it is skipped and the load goes on; on a line of its own before
# the end it makes the file binary; inside a record the reader refuses the record.
scenario_ctrlz() {
    begin ctrlz
    run -f ctrlz-end.hex
    expect_status 0
    expect_out_has "Firmware load complete!"
    settled
    run -f ctrlz.hex
    expect_status 1
    expect_err_has "hex file: binary data, not Intel HEX text"
    run -f ctrlz-record.hex
    expect_status 1
    finish
}

# CR LF line ends load as LF ones do.
scenario_crlf() {
    begin crlf
    run -f crlf.hex
    expect_status 0
    expect_out_has "Firmware load complete!"
    finish
}

# A file name in other scripts than the ANSI code page's loads, and one that is not there
# is named in the message as it was given.
scenario_names() {
    begin names
    run -f "прошивка-固件.hex"
    expect_status 0
    expect_out_has "Firmware load complete!"
    settled
    run -u "нет-无.fullrom"
    expect_status 1
    expect_err_has "нет-无.fullrom"
    finish
}

# Files that are not images: missing, a folder, a HEX file for -u. Each run ends with
# status 1 and its message; nothing is sent. (Device files such as /dev/zero have no
# Windows counterpart: there the name is that of a missing file.)
scenario_badfiles() {
    begin badfiles
    for args in "-f missing.hex" "-u missing.fullrom" "-f ." "-u ." "-u firmware.hex"; do
        # shellcheck disable=SC2086
        run $args
        expect_status 1
    done
    expect_show_has '"total": 0'
    finish
}

# The program is killed (SIGKILL) right after the device took the 10th page: the run ends
# by the signal, the device keeps what it had, and the next run loads the image whole.
scenario_killed() {
    begin killed
    "$sim" fault "$device" 'kill:boot/P@10' || problem "fault not armed"
    run -f firmware.hex
    expect_status 137
    settled
    run -f firmware.hex
    expect_status 0
    expect_out_has "Firmware load complete!"
    finish
}

# Two Ostrels told apart by their serial numbers (a uhid device has no USB port). Without
# a pick the run lists both and sends nothing; a pick by serial number reaches its device
# through the mode switch to the bootloader and back, and the other device gets nothing.
scenario_two() {
    begin two --serial OSTREL-A
    begin_other --serial OSTREL-B --bootloader-version "OSTREL-BL 2.0"
    run -v
    expect_status 1
    expect_err_has "Several Ostrels are attached"
    expect_err_has "OSTREL-B"
    run -d OSTREL-B -v -b
    expect_status 0
    expect_no_err
    expect_out_has "bootloader version: OSTREL-BL 2.0"
    expect_show_has '"total": 0'
    "$sim" show "$other" | grep -qF '"application": {"*": 1, "B": 1}, "bootloader": {"*": 1, "B": 1}' ||
        problem "the picked device's requests: $("$sim" show "$other")"
    finish
}

# OSTREL_VM_ONLY (scenario names, comma-separated) runs only those.
scenarios="hidapi help versions flash update erase absent denied unplug noreturn noise refusal flash_update"
if [ "${OSTREL_SCENARIO_SET:-}" = windows ]; then
    # Not `two`: the Windows stand-in puts one device on the virtual USB.
    scenarios="${scenarios#hidapi } ctrlz crlf names badfiles killed"
else
    scenarios="$scenarios two"
fi
for scenario in $scenarios; do
    case ",${OSTREL_VM_ONLY:-$scenario}," in
        *",$scenario,"*) "scenario_$scenario" ;;
    esac
done

echo "$([ "$mode" = windows ] && echo windows || echo vm) scenarios: $passed passed, $failed failed"
[ $failed -eq 0 ] && [ $passed -gt 0 ]
