// The bridge update killed at seeded random points: the shipped program gets SIGKILL right
// after the device took the chosen request (fault `kill@N`). Half the points are drawn
// from the whole run, half from its requests other than data chunks (status and checksum
// queries, erases, the last chunk of each region and the invalidation writes). After each
// kill the device's state has survived and no bank erased or written in part claims to be
// valid. Every other time the next run is killed as well; then a further run must leave
// the bridge running the new image with one valid bank in each pair.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <random>
#include <set>
#include <string>

#include "sim/bridge_flash.h"
#include "tests/interrupt/bridge_check.h"
#include "tests/interrupt/device_dir.h"

namespace {

using namespace interrupt_test;

constexpr std::size_t points_per_draw = 24;

class BridgeKillSweep : public ::testing::TestWithParam<std::uint8_t> {
  protected:
    device_dir dev;
    const bytes old_copies = sim::make_fullrom_image(41, "VXR OLD");  // every bank valid
    const bytes old_image = with_valid_banks(old_copies, GetParam());
    const bytes new_image = sim::make_fullrom_image(42, "VXR NEW");
    std::string path;

    void SetUp() override {
        path = dev.file("new.fullrom");
        ostrel::testing::write_file(path, new_image);
    }
    void reset() { dev.reset({.reenumeration_ms = 20}, {}, old_image); }
};

TEST_P(BridgeKillSweep, KilledUpdateIsCompletedByASecondRun) {
    const auto started = std::chrono::steady_clock::now();
    reset();
    ASSERT_EQ(dev.state().bank_status, GetParam());
    ASSERT_EQ(dev.run({"-u", path}).status, 0);
    ASSERT_TRUE(bridge_runs(dev.state(), new_image));
    const auto reference = dev.log();

    // A data chunk is 'A' with 32 bytes; the single bytes of an invalidation are not.
    std::vector<std::size_t> control;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        if (command_of(reference[i]) != 'A' || reference[i].bytes[2] != 32 ||
            i + 1 == reference.size() || command_of(reference[i + 1]) != 'A') {
            control.push_back(i + 1);
        }
    }
    std::mt19937 random(0x5EED0000u + GetParam());
    std::set<std::size_t> points;
    std::uniform_int_distribution<std::size_t> anywhere(1, reference.size());
    std::uniform_int_distribution<std::size_t> pick(0, control.size() - 1);
    while (points.size() < points_per_draw) {
        points.insert(anywhere(random));
    }
    while (points.size() < 2 * points_per_draw) {
        points.insert(control[pick(random)]);
    }

    // Every other point, the run after the kill is killed too, at a point drawn from the
    // whole length of a run, and a third run has to finish the work.
    int failures = 0;
    int runs = 1;
    int second_kills = 0;
    int unsafe = 0;
    std::uniform_int_distribution<std::size_t> again(1, reference.size());
    bool kill_again = false;
    for (const std::size_t point : points) {
        kill_again = !kill_again;
        const std::size_t next_kill = kill_again ? again(random) : 0;
        SCOPED_TRACE("kill@" + std::to_string(point) + " at '" + command_of(reference[point - 1]) +
                     "', then kill@" + std::to_string(next_kill));
        reset();
        dev.arm("kill@" + std::to_string(point));
        const auto killed = dev.run({"-u", path});
        EXPECT_EQ(killed.status, killed_status) << killed.out << killed.err;
        EXPECT_EQ(dev.log().size(), point);
        EXPECT_EQ(dev.state().requests, point) << "the device state lost requests";
        ASSERT_EQ(dev.state().fault_count, 0u) << "the kill rule was not disarmed";
        const bool safe = no_partial_copy_valid(dev.state(), old_copies, new_image);
        EXPECT_TRUE(safe) << "bank status " << int(dev.state().bank_status);
        unsafe += !bridge_bootable(dev.state());
        ++runs;

        if (next_kill != 0) {
            dev.arm("kill@" + std::to_string(next_kill));
            const auto second = dev.run({"-u", path});
            ++runs;
            dev.state().fault_count = 0;
            if (second.status == killed_status) {
                ++second_kills;
                EXPECT_TRUE(no_partial_copy_valid(dev.state(), old_copies, new_image))
                    << "after the second kill, bank status " << int(dev.state().bank_status);
                unsafe += !bridge_bootable(dev.state());
            }
        }
        const auto last = dev.run({"-u", path});
        ++runs;
        const bool finished = last.status == 0 && last.err.empty() &&
                              (last.out.ends_with("VXR firmware update complete!\n") ||
                               last.out.ends_with("No update to VXR firmware needed\n")) &&
                              bridge_runs(dev.state(), new_image) &&
                              std::string(dev.state().bridge_version) == "VXR NEW";
        EXPECT_TRUE(finished) << "last run: status " << last.status << ", bank status "
                              << int(dev.state().bank_status) << "\n"
                              << last.err;
        ASSERT_LT(failures += !finished || !safe || killed.status != killed_status, 5)
            << "giving up";
    }
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "bridge kill sweep from bank status " << int(GetParam()) << ": " << points.size()
              << " kill points of " << reference.size() << " requests, and " << second_kills
              << " kills of the run after; " << runs << " runs of the shipped program, " << seconds
              << " s; " << unsafe << " kills left a pair without a valid bank\n";
}

INSTANTIATE_TEST_SUITE_P(OldCopyInBank, BridgeKillSweep, ::testing::Values(0x05, 0x0A),
                         [](const auto& info) {
                             return info.param == 5 ? "Status05" : "Status0A";
                         });

}  // namespace
