// How each task ends when something is wrong: the file, the command line, the device's
// absence, mode or rights, or a request it refuses. One table, one driver: the output on
// each stream byte for byte, the status, the requests the device received and the mode it
// is left in.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sim/bridge_flash.h"
#include "sim/model.h"
#include "tests/mcu/hex_writer.h"
#include "tests/vxr/bridge_support.h"

namespace {

using namespace ostrel::testing;
using bridge_test::requests;
using sim::usb_mode;
using words = std::vector<std::string>;

struct outcome {  // NOLINT(clang-analyzer-optin.performance.Padding): a table
    words args;
    usb_mode mode;
    words faults;
    std::string out;
    std::string err;
    std::optional<words> sent = std::nullopt;      // the requests; unset: not pinned
    std::optional<usb_mode> after = std::nullopt;  // unset: as it was
    std::int64_t min_wait_ms = 0;
};

const std::string no_device = no_device_advice;
const usb_mode app = usb_mode::application, boot = usb_mode::bootloader, gone = usb_mode::absent;
const words none;
const std::string in_bootloader =
    "The Ostrel waits in its bootloader (USB id 1209:4004): load its firmware with -f FILE, or "
    "unplug it and plug it back in.\n";
const std::string access_hint =
    "The Ostrel is connected but cannot be opened: check the access rights to its hidraw "
    "device (udev rule 70-ostrel.rules, see ostrel_firmware_update(1))\n";
const std::string never_back =
    "The Ostrel left USB to restart as its bootloader (USB id 1209:4004) and did not come back "
    "within 15 s: unplug it, plug it back in and try again.\n";

class Outcome : public ::testing::Test {
  protected:
    // The device in `mode`, its bridge holding `bridge` (banks 0 valid), `faults` armed.
    static sim::inprocess_device& prepare(usb_mode mode, const words& faults,
                                          const std::vector<std::uint8_t>& bridge) {
        return device_holding(
            bridge, 0x05, {.mode = mode, .app_version = "A1", .bootloader_version = "B1"}, faults);
    }

    // The run of `row` on the device it names, checked against the row.
    void check(const outcome& row) const {
        SCOPED_TRACE(row.args.back() + " " + (row.faults.empty() ? "" : row.faults[0]));
        auto& dev = prepare(row.mode, row.faults, old_rom);
        const auto start = dev.now_ns();
        const auto result = run_cli(row.args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, row.out);
        EXPECT_EQ(result.err, row.err);
        if (row.sent) {
            EXPECT_EQ(requests(dev), *row.sent);
        }
        EXPECT_EQ(dev.state().mode, row.after.value_or(row.mode));
        EXPECT_GE(dev.now_ns() - start, row.min_wait_ms * 1'000'000);
    }

    temp_dir dir;
    const std::vector<std::uint8_t> old_rom = sim::make_fullrom_image(32, "R1");
    const std::vector<std::uint8_t> new_rom = sim::make_fullrom_image(31, "VXR NEW");
};

// Versions: every failed connection says what was looked for and what to do, sends at most
// the mode switch, and -v never switches the device; a failed query lets later ones run.
TEST_F(Outcome, VersionQueries) {
    const std::string no_ostrel = "could not connect to ostrel\n";
    const std::string no_bootloader = "could not connect to bootloader\n";
    // clang-format off
    const outcome rows[] = {
        {{"-v", "-r", "-b"}, gone, {}, "",
         no_ostrel + no_device + no_ostrel + no_device + no_bootloader + no_device, none},
        {{"-v"}, boot, {}, "", no_ostrel + in_bootloader, none},
        {{"-v", "-b"}, app, {"denied"}, "",
         no_ostrel + access_hint + no_bootloader + access_hint, none},
        {{"-b"}, app, {"noreturn"}, "", no_bootloader + never_back, words{"B"}, gone, 15'000},
        {{"-v", "-r", "-b"}, app, {"noreply:app/*", "noreply:boot/*"},
         "VXR7200 firmware version: " + padded("R1", 64) + "\n",
         "could not read application version\ncould not read bootloader version\n",
         std::nullopt, app},  // -b gives back the device it switched
    };
    // clang-format on
    for (const outcome& row : rows) {
        check(row);
    }
}

// -f: a file that cannot be loaded is named and refused before the device is switched; a
// refused page leaves the device in its bootloader, not restarted, and no -u after it
// reaches the bridge. Every file of the run is checked before anything is sent.
TEST_F(Outcome, FirmwareLoad) {
    const std::string hex = dir.file("image.hex");
    std::string corrupt = hex_file(0x404000, random_bytes(64, 3));
    corrupt[corrupt.find('\n', corrupt.find('\n') + 1) - 1] ^= 1;  // the second line's checksum
    const std::pair<std::string, std::string> refused[] = {
        {corrupt, "hex file line 2: checksum mismatch\n"},
        {hex_file(0x400000, {1, 2}),
         "hex image starts at 0x400000, not at the application start 0x404000\n"},
        {hex_file(0x404000, bytes(0x7C001, 0)),
         "hex image of 507905 bytes does not fit the application area of 507904 bytes\n"},
        {std::string(new_rom.begin(), new_rom.end()),
         "hex file: binary data of 512 KiB or more, like a Fullrom image: not Intel HEX text (a "
         "Fullrom image for the bridge goes to -u)\n"},
    };
    const std::string loading = "Loading firmware file: " + hex + "\n",
                      nothing_sent =
                          "Firmware load failed.\nNothing was sent to the Ostrel: check that " +
                          hex + " is the microcontroller's firmware.\n";
    for (const auto& [text, why] : refused) {
        write_file(hex, text);
        check({{"-f", hex}, app, {}, loading, why + nothing_sent, none});
    }
    const std::string absent = dir.file("absent.hex");
    write_file(hex, hex_file(0x404000, bytes(2048, 7)));
    const std::string rom = write_image(dir, "new.fullrom", new_rom);
    const std::string short_rom = write_image(
        dir, "short.fullrom", std::vector<std::uint8_t>(new_rom.begin(), new_rom.end() - 1));
    // clang-format off
    const outcome rows[] = {
        {{"-f", absent}, app, {},
         "Loading firmware file: " + absent + "\nCould not open hex file: " + absent + "\n",
         "Firmware load failed.\n" + absent +
             ": No such file or directory. Nothing was sent to the Ostrel.\n",
         none},
        {{"-f"}, app, {}, "", "no filename given with -f option\n", none},
        {{"-f", hex}, boot, {"refuse:boot/P@2"},
         loading + "Firmware progress: 0%\n",
         "Firmware load failed.\nThe load stopped at 25 % (512 of 2048 bytes): the Ostrel waits "
         "in its bootloader with an incomplete application. Run the same -f again to load it "
         "whole.\n"},
        // Nor does the bridge update after it try.
        {{"-u", rom, "-f", hex}, gone, {}, "",
         "Could not connect to bootloader. Firmware load aborted.\n" + no_device},
        // A load that did not complete: the bridge is not reached through its application.
        {{"-f", hex, "-u", rom}, boot, {"refuse:boot/P@2"},
         loading + "Firmware progress: 0%\n",
         "Firmware load failed.\nThe load stopped at 25 % (512 of 2048 bytes): the Ostrel waits "
         "in its bootloader with an incomplete application. Run the same -f again to load it "
         "whole.\nVXR firmware update failed.\nNothing was sent to the bridge: the "
         "microcontroller's load did not complete, so its application must not be started to "
         "reach the bridge. Load it with -f FILE, then run -u again.\n"},
        // Every file is checked before anything is sent; -x runs alone.
        {{"-f", hex, "-u", short_rom}, app, {},
         "Loading VXR firmware file: " + short_rom + "\nlength of file: 524287 bytes\n",
         "Fullrom file too short: 524287 bytes found, 524288 bytes needed\nVXR firmware update "
         "failed.\n", none},
        {{"-x", "KQWIPEZON", "-u", rom}, app, {}, "",
         "-x erases the whole bridge flash and does not run with -f or -u: nothing was sent. "
         "Run the erase, then the update, one after the other.\n", none},
    };
    // clang-format on
    for (const outcome& row : rows) {
        check(row);
    }
    // The virtual device knows the load broke off: its bootloader then keeps to itself on
    // 'B', as a real one may run the half-written application.
    auto& dev = prepare(boot, {"refuse:boot/P@2"}, old_rom);
    EXPECT_EQ(run_cli({"-f", hex}).status, 1);
    EXPECT_EQ(dev.state().app_incomplete, 1);
    connected(boot).start_application();
    dev.advance_ns(1'000'000'000);
    sim::settle(dev.state(), dev.now_ns());
    EXPECT_EQ(dev.state().mode, boot);
}

// -x goes on only with the confirmation word, then stops at the first failed block; -u
// stops at a file that cannot be an image (of the wrong length, text, another kind of file
// by its first bytes, or with an unusable bank trailer), a missing device or a refused request, and
// a failed version query never makes an outdated bridge read as up to date.
TEST_F(Outcome, BridgeEraseAndUpdate) {
    const std::string del = "Deleting VXR7200 firmware\n", failed = "VXR firmware update failed.\n";
    const std::string missing = dir.file("missing.fullrom");
    const std::string huge = write_image(dir, "huge.fullrom", bytes(16777217, 0x00));
    const std::string rom = write_image(dir, "new.fullrom", new_rom);
    auto erased_copy = new_rom;
    erased_copy[0x1FFFF] = 0xFF;  // the last trailer byte of the firmware copy written
    const std::string erased = write_image(dir, "erased.fullrom", erased_copy);
    const std::string loading = "Loading VXR firmware file: ",
                      length = "\nlength of file: 524288 bytes\n";
    // clang-format off
    const outcome rows[] = {
        {{"-x", "KQWIPEZO", "-u"}, app, {}, "", "no filename given with -u option\n", none},
        {{"-x", "KQWIPEZON"}, app, {"refuse:app/D@4"}, del,
         "Failed to delete Flash block 3\nThe erase stopped after block 2: blocks 0 to 2 of 7 "
         "are erased and the bridge holds no whole firmware. Run the same -x again, or -u FILE "
         "to write an image.\n", words{"D 0x00000+0x10000 x4"}},
        {{"-r", "-x", "KQWIPEZON"}, app, {"refuse:app/N"}, del + "Complete\n",
         "could not read VXR7200 firmware version\n", words{"N", "D 0x00000+0x10000 x8"}},
        {{"-x", "KQWIPEZON"}, gone, {}, del, "Could not connect to Ostrel\n" + no_device},
        {{"-u"}, app, {}, "", "no filename given with -u option\n", none},
        {{"-u", missing}, app, {}, loading + missing + "\nCould not open file\n",
         failed + missing + ": No such file or directory. Nothing was sent to the Ostrel.\n", none},
        {{"-u", huge}, app, {}, loading + huge + "\n",
         "Fullrom file too long: more than 16777216 bytes found, 524288 bytes needed\n" + failed,
         none},
        {{"-u", rom}, gone, {}, loading + rom + length,
         "Could not connect to Ostrel\n" + no_device},
        {{"-u", erased}, app, {}, loading + erased + length,
         erased + ": not a usable Fullrom image: the trailer of its firmware bank (0x1FFF0 to "
         "0x1FFFF) is erased (0xFF) at 0x1FFFF\n" + failed, none},
    };
    // clang-format on
    for (const outcome& row : rows) {
        check(row);
    }
    // Files of the right length that their first bytes show to be something else.
    // A mark at the start, one at an offset, and a Windows program found through its header.
    const std::pair<std::string, std::string> kinds[] = {
        {"\x1F\x8B\x08\x00", "a gzip archive"},
        {std::string(257, 'x') + "ustar", "a tar archive"},
        {"MZ" + std::string(0x3A, '\x90') + std::string("\x40\0\0\0PE\0\0", 8),
         "a Windows program"},
    };
    for (const auto& [start, kind] : kinds) {
        auto other = new_rom;
        std::copy(start.begin(), start.end(), other.begin());
        const std::string file = write_image(dir, "other.fullrom", other);
        std::string out = loading;
        out.append(file).append(length);
        std::string err = file;
        err.append(": not a Fullrom image: the file is ").append(kind).append("\n").append(failed);
        check({{"-u", file}, app, {}, out, err, none});
    }
    prepare(app, {"refuse:app/A@2000"}, old_rom);
    const auto refused = run_cli({"-u", rom});
    EXPECT_EQ(refused.err, failed +
                               "The update stopped. Config: new copy valid; firmware: old copy "
                               "valid; esm region: unchanged. Run the same -u again to finish "
                               "the update.\n");
    prepare(app, {"refuse:app/N"}, new_rom);
    const auto after_failed_query = run_cli({"-r", "-u", rom});
    EXPECT_TRUE(after_failed_query.out.ends_with("No update to VXR firmware needed\n"));
    EXPECT_EQ(refused.status + after_failed_query.status, 2);
}

}  // namespace
