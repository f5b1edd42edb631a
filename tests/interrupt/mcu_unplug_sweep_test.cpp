// The microcontroller load with the device unplugged at every page (in process, on the
// virtual clock): after the device took a request around every erase, 'P' and mode switch
// it leaves USB and is plugged back in, alternately in its bootloader and in its
// application. The failed run must say so; a second, undisturbed run must reach the
// bootloader and load the whole image.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <set>

#include "sim/inprocess_device.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/cli_run.h"
#include "tests/support/temp_dir.h"

namespace {

using ostrel::testing::random_bytes;
using ostrel::testing::run_cli;
using bytes = std::vector<std::uint8_t>;

constexpr std::int64_t second_ns = 1'000'000'000;

sim::inprocess_device& device_with(sim::usb_mode mode, const bytes& old) {
    auto& dev = sim::inprocess_device::reset({.mode = mode});
    std::copy(old.begin(), old.end(), dev.state().mcu_flash);
    return dev;
}

bool holds(sim::inprocess_device& dev, const bytes& image) {
    const std::uint8_t* flash = dev.state().mcu_flash;
    return std::equal(image.begin(), image.end(), flash) &&
           std::all_of(flash + image.size(), flash + sim::mcu_flash_size,
                       [](std::uint8_t b) { return b == 0xFF; });
}

// Sweeps an image of `size` bytes: an unplug before, at and after every request whose
// command is in `commands`, and at the mode switch into the bootloader. Returns the number
// of unplug points.
std::size_t sweep(std::size_t size, const std::string& commands) {
    const auto started = std::chrono::steady_clock::now();
    ostrel::testing::temp_dir dir;
    const bytes image = random_bytes(size, 11);
    const bytes old = random_bytes(size, 12);
    const std::string path = dir.file("image.hex");
    ostrel::testing::write_file(path, ostrel::testing::hex_file(0x404000, image, 32));

    auto& reference_dev = device_with(sim::usb_mode::bootloader, old);
    EXPECT_EQ(run_cli({"-f", path}).status, 0);
    const std::vector<sim::request_record> reference = reference_dev.requests;
    std::set<std::size_t> around;  // 1-based
    for (std::size_t i = 0; i < reference.size(); ++i) {
        if (commands.find(static_cast<char>(reference[i].bytes[1])) != std::string::npos) {
            for (std::size_t p = std::max<std::size_t>(i, 1);
                 p <= std::min(i + 2, reference.size()); ++p) {
                around.insert(p);
            }
        }
    }
    // The mode switch first: the application takes 'B' and leaves.
    std::vector<std::pair<sim::usb_mode, std::size_t>> points{{sim::usb_mode::application, 1}};
    for (const std::size_t point : around) {
        points.emplace_back(sim::usb_mode::bootloader, point);
    }

    int failures = 0;
    for (std::size_t k = 0; k < points.size() && failures < 5; ++k) {
        const auto [start_mode, point] = points[k];
        const sim::usb_mode back =
            k % 2 == 0 ? sim::usb_mode::bootloader : sim::usb_mode::application;
        SCOPED_TRACE("unplug=" + std::to_string(point) + " from " + sim::mode_name(start_mode) +
                     ", back in " + sim::mode_name(back));
        auto& dev = device_with(start_mode, old);
        dev.arm("unplug=" + std::to_string(point));
        const auto faulted = run_cli({"-f", path});
        const bool honest =
            faulted.status == 0
                ? holds(dev, image) && faulted.out.ends_with("Firmware load complete!\n")
                : faulted.status == 1 &&
                      ostrel::testing::ends_with_failure(faulted.err, "Firmware load failed.");
        EXPECT_TRUE(honest) << "status " << faulted.status << "\n" << faulted.err;

        dev.state().fault_count = 0;
        dev.advance_ns(second_ns);  // a re-enumeration under way ends
        sim::settle(dev.state(), dev.now_ns());
        if (dev.state().mode == sim::usb_mode::absent) {
            sim::replug(dev.state(), back);
        }
        const auto second = run_cli({"-f", path});
        const bool loaded = second.status == 0 && second.err.empty() &&
                            second.out.ends_with("Firmware load complete!\n") && holds(dev, image);
        EXPECT_TRUE(loaded) << "second run: status " << second.status << "\n" << second.err;
        failures += !honest || !loaded;
    }
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "mcu unplug sweep, " << (size + 511) / 512 << " pages: " << points.size()
              << " unplug points of " << reference.size() << " requests, " << 2 * points.size()
              << " in-process runs, " << seconds << " s\n";
    return points.size();
}

// 65 pages, the last one padded, erased with two 16 KiB erases and a tail erase.
TEST(McuUnplugSweep, UnplugAroundEveryPageLeavesTheBootloaderReachableAndASecondRunLoads) {
    sweep(0x8107, "ePB");
}

// 257 pages erased with all three modes: a sector, a 16 KiB step and a tail.
TEST(McuUnplugSweep, UnplugAroundEveryEraseModeLeavesTheBootloaderReachable) {
    sweep(0x20001, "e");
}

}  // namespace
