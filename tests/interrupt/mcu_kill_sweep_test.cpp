// The microcontroller load killed at every page: the shipped program gets SIGKILL right after
// the device took a request (fault `kill@N`), around every erase, every 'P' and the mode
// switches. After each kill the device state has survived, the bootloader is reachable, and
// a second, undisturbed run loads the whole image.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

#include "tests/interrupt/device_dir.h"
#include "tests/mcu/hex_writer.h"

namespace {

using namespace interrupt_test;
using ostrel::testing::random_bytes;

class McuKillSweep : public ::testing::Test {
  protected:
    device_dir dev;

    static sim::device_options in(sim::usb_mode mode) {
        return {.mode = mode, .reenumeration_ms = 20};
    }

    std::string hex_for(const bytes& image) {
        std::string path = dev.file("image.hex");
        ostrel::testing::write_file(path, ostrel::testing::hex_file(0x404000, image, 32));
        return path;
    }

    // One kill: `rules` armed on a device in `mode` whose area holds `old`; the run must die
    // at request `at` (0: anywhere), and a second run must load `image`. False on a fault,
    // after saying why.
    bool kill_then_reload(sim::usb_mode mode, const std::vector<std::string>& rules, std::size_t at,
                          const bytes& old, const bytes& image, const std::string& path) {
        dev.reset(in(mode), old);
        for (const std::string& rule : rules) {
            dev.arm(rule);
        }
        const auto killed = dev.run({"-f", path});
        const std::size_t taken = dev.log().size();
        EXPECT_EQ(killed.status, killed_status) << killed.out << killed.err;
        if (at != 0) {
            EXPECT_EQ(taken, at) << "the program died elsewhere than at the armed request";
            EXPECT_EQ(dev.state().requests, at) << "the device state lost requests";
        }
        dev.state().fault_count = 0;
        const bool reachable = dev.settle();
        EXPECT_TRUE(reachable) << "the device did not come back on USB";
        const auto second = dev.run({"-f", path});
        const bool loaded = second.status == 0 && second.err.empty() &&
                            second.out.ends_with("Firmware load complete!\n") &&
                            dev.mcu_holds(image);
        EXPECT_TRUE(loaded) << "second run: status " << second.status << "\n" << second.err;
        return killed.status == killed_status && reachable && loaded;
    }
};

// 33 pages, the last one padded, erased with a 16 KiB erase and a tail erase: a kill before,
// at and after every erase, 'P' and the closing 'B'; and at the mode switch into the
// bootloader.
TEST_F(McuKillSweep, KillAroundEveryPageLeavesTheBootloaderReachableAndASecondRunLoads) {
    const auto started = std::chrono::steady_clock::now();
    const bytes image = random_bytes(0x4107, 7);
    const bytes old = random_bytes(0x4107, 8);
    const std::string path = hex_for(image);

    dev.reset(in(sim::usb_mode::bootloader), old);
    ASSERT_EQ(dev.run({"-f", path}).status, 0);
    const auto reference = dev.log();
    ASSERT_EQ(reference.size(), 2 + 33 * 17 + 1u);
    const std::vector<std::size_t> points = points_around(reference, "ePB");

    int failures = 0;
    for (const std::size_t point : points) {
        SCOPED_TRACE("kill@" + std::to_string(point) + " at '" + command_of(reference[point - 1]) +
                     "'");
        failures += !kill_then_reload(sim::usb_mode::bootloader, {"kill@" + std::to_string(point)},
                                      point, old, image, path);
        ASSERT_LT(failures, 5) << "giving up";
    }
    // The mode switch: the application takes 'B' and the program dies before it sees the
    // bootloader.
    {
        SCOPED_TRACE("kill:app/B");
        EXPECT_TRUE(
            kill_then_reload(sim::usb_mode::application, {"kill:app/B"}, 1, old, image, path));
    }
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "mcu kill sweep: " << points.size() + 1 << " kill points of " << reference.size()
              << " requests (33 pages), " << 2 * (points.size() + 1) + 1
              << " runs of the shipped program, " << seconds << " s\n";
}

// A larger image erased with all three erase modes (sector, 16 KiB, tail), and the fallback
// erase after a refused erase: a kill around each of them.
TEST_F(McuKillSweep, KillAroundEveryEraseModeAndTheFallbackErase) {
    const bytes image = random_bytes(0x20001, 9);
    const bytes old = random_bytes(0x20001, 10);
    const std::string path = hex_for(image);

    dev.reset(in(sim::usb_mode::bootloader), old);
    ASSERT_EQ(dev.run({"-f", path}).status, 0);
    const auto reference = dev.log();
    std::string erases;
    for (const auto& record : reference) {
        if (command_of(record) == 'e') {
            erases += static_cast<char>('0' + record.bytes[2]);
        }
    }
    ASSERT_EQ(erases, "210");  // sector, 16 KiB, tail
    const std::vector<std::size_t> points = points_around(reference, "e");
    for (const std::size_t point : points) {
        SCOPED_TRACE("kill@" + std::to_string(point));
        EXPECT_TRUE(kill_then_reload(sim::usb_mode::bootloader, {"kill@" + std::to_string(point)},
                                     point, old, image, path));
    }
    for (const char* kill : {"kill:boot/0x22", "kill:boot/D@1"}) {
        SCOPED_TRACE(std::string("refuse:boot/e@2 ") + kill);
        EXPECT_TRUE(kill_then_reload(sim::usb_mode::bootloader, {"refuse:boot/e@2", kill}, 0, old,
                                     image, path));
    }
    std::cout << "mcu kill sweep, erase modes: " << points.size() + 2 << " kill points\n";
}

}  // namespace
