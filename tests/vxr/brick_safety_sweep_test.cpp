// Brick safety of the bridge update: a fault (refusal, lost reply, write or erase
// acknowledged but not made, device unplugged) at a dense, deterministic sample of the
// request indices of a full update. After each, the bridge must still hold a complete,
// valid copy of its config and its firmware (old or new); a success must be real; and a
// second, fault-free run must bring the flash to the image.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <set>

#include "sim/bridge_flash.h"
#include "sim/model.h"
#include "tests/vxr/bridge_support.h"

namespace {

using namespace bridge_test;

constexpr std::size_t chunk_stride = 16;  // data chunks sampled between the region ends

class BrickSafety : public ::testing::TestWithParam<std::uint8_t> {
  protected:
    ostrel::testing::temp_dir dir;
    const image old_image = sim::make_fullrom_image(41, "VXR OLD");
    const image new_image = sim::make_fullrom_image(42, "VXR NEW");
    const std::string path = write_image(dir, "new.fullrom", new_image);

    // A bank of each pair is valid and holds a whole copy, the old or the new one.
    bool pair_safe(sim::inprocess_device& dev, const area (&pair)[2]) {
        for (const area& bank : pair) {
            if (valid(dev, bank) &&
                (holds(dev, bank, old_image, pair[0]) || holds(dev, bank, new_image, pair[0]))) {
                return true;
            }
        }
        return false;
    }

    // The bank the device runs from (bank 1 when its bit is set) holds the new copy.
    bool pair_new(sim::inprocess_device& dev, const area (&pair)[2]) {
        const area& running = valid(dev, pair[1]) ? pair[1] : pair[0];
        return valid(dev, running) && holds(dev, running, new_image, pair[0]);
    }

    bool flash_new(sim::inprocess_device& dev) {
        return pair_new(dev, config_bank) && pair_new(dev, fw_bank) &&
               holds(dev, esm, new_image, esm);
    }

    // Every request but the data chunks, and of each run of data chunks the first two,
    // the last two and every chunk_stride-th. 1-based, as the fault rules count.
    static std::vector<std::size_t> fault_points(const std::vector<request>& reference) {
        std::set<std::size_t> points;
        std::size_t run_start = 0;
        for (std::size_t i = 0; i < reference.size(); ++i) {
            const bool data = reference[i].command == 'A' && reference[i].length > 1;
            const bool data_before =
                i > 0 && reference[i - 1].command == 'A' && reference[i - 1].length > 1;
            if (!data) {
                points.insert(i + 1);
                continue;
            }
            if (!data_before) {
                run_start = i;
            }
            const bool data_after = i + 1 < reference.size() && reference[i + 1].command == 'A' &&
                                    reference[i + 1].length > 1;
            const bool data_after_next = i + 2 < reference.size() &&
                                         reference[i + 2].command == 'A' &&
                                         reference[i + 2].length > 1;
            const std::size_t n = i - run_start;
            if (n < 2 || !data_after || !data_after_next || n % chunk_stride == 0) {
                points.insert(i + 1);
            }
        }
        return {points.begin(), points.end()};
    }
};

TEST_P(BrickSafety, EveryFaultLeavesAValidCopyAndASecondRunFinishes) {
    const std::uint8_t start = GetParam();
    const auto began = std::chrono::steady_clock::now();

    auto& reference_dev = device_holding(old_image, start);
    ASSERT_EQ(run_cli({"-u", path}).status, 0);
    ASSERT_TRUE(flash_new(reference_dev));
    const std::vector<request> reference = requests(reference_dev);
    const std::vector<std::size_t> points = fault_points(reference);

    std::size_t scenarios = 0;
    int failures = 0;
    for (const std::string kind : {"refuse", "noreply", "acknowrite", "unplug"}) {
        for (const std::size_t point : points) {
            const std::string rule = kind == "unplug" ? "unplug=" + std::to_string(point)
                                                      : kind + "@" + std::to_string(point);
            SCOPED_TRACE(rule + " at " + describe(reference[point - 1]));
            ++scenarios;

            auto& dev = device_holding(old_image, start);
            dev.arm(rule);
            const auto faulted = run_cli({"-u", path});
            // The run went to its end: its last request is the check of the esm region.
            const bool stopped = dev.requests.empty() ||
                                 describe(requests(dev).back()) != describe(reference.back());
            bool ok = true;
            if (faulted.status == 0) {
                // A success is real: every step was taken and the flash is the image.
                ok &= !stopped && flash_new(dev);
                ok &= faulted.out.ends_with("VXR firmware update complete!\n");
            } else {
                ok &= faulted.status == 1 && faulted.err.ends_with("VXR firmware update failed.\n");
            }
            ok &= pair_safe(dev, config_bank) && pair_safe(dev, fw_bank);
            EXPECT_TRUE(ok) << "status " << faulted.status << ", " << dev.requests.size()
                            << " requests, bank status " << int(dev.state().bank_status);

            dev.state().fault_count = 0;
            if (dev.state().mode == sim::usb_mode::absent) {
                sim::replug(dev.state(), sim::usb_mode::application);
            }
            const auto second = run_cli({"-u", path});
            const bool one_bank_each = valid(dev, config_bank[0]) != valid(dev, config_bank[1]) &&
                                       valid(dev, fw_bank[0]) != valid(dev, fw_bank[1]);
            const bool finished = second.status == 0 && flash_new(dev) && one_bank_each &&
                                  std::string(dev.state().bridge_version) == "VXR NEW";
            EXPECT_TRUE(finished) << "second run: status " << second.status << ", bank status "
                                  << int(dev.state().bank_status);
            if ((!ok || !finished) && ++failures >= 10) {
                FAIL() << "giving up after 10 failing fault points";
            }
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::cout << "brick-safety sweep from bank status " << int(start) << ": " << points.size()
              << " fault points of " << reference.size() << " requests, " << scenarios
              << " faulted runs, " << seconds << " s\n";
}

INSTANTIATE_TEST_SUITE_P(OldCopyInBank, BrickSafety, ::testing::Values(0x05, 0x0A),
                         [](const ::testing::TestParamInfo<std::uint8_t>& info) {
                             return info.param == 0x05 ? "Status05" : "Status0A";
                         });

}  // namespace
