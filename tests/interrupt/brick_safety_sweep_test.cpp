// Brick safety of the bridge update: a fault (refusal, lost reply, write or erase
// acknowledged but not made, device unplugged) at every request of a full update but the
// data chunks, of which the first two and last two of each region and every 16th are
// taken. After each fault every valid bank of config and firmware must hold a complete
// copy (old or new) and at least one of each pair must be valid, a reported success must
// be real, a failure must end with status 1, and a second, fault-free run must bring the
// flash to the image.
#include <gtest/gtest.h>

#include <iostream>

#include "sim/bridge_flash.h"
#include "sim/model.h"
#include "tests/vxr/bridge_support.h"

namespace {

using namespace bridge_test;

class BrickSafety : public ::testing::TestWithParam<std::uint8_t> {
  protected:
    ostrel::testing::temp_dir dir;
    const image old_image = sim::make_fullrom_image(41, "VXR OLD");
    const image new_image = sim::make_fullrom_image(42, "VXR NEW");
    const std::string path = write_image(dir, "new.fullrom", new_image);

    // A bank of the pair is valid, and every valid bank holds a whole copy, the old or the
    // new one: whichever valid bank the bridge starts from, it works.
    bool pair_safe(sim::inprocess_device& dev, const area (&pair)[2]) {
        const auto whole = [&](const area& bank) {
            return holds(dev, bank, old_image, pair[0]) || holds(dev, bank, new_image, pair[0]);
        };
        return (valid(dev, pair[0]) || valid(dev, pair[1])) &&
               std::all_of(pair, pair + 2,
                           [&](const area& bank) { return !valid(dev, bank) || whole(bank); });
    }
};

TEST_P(BrickSafety, EveryFaultLeavesAValidCopyAndASecondRunFinishes) {
    auto& reference_dev = device_holding(old_image, GetParam());
    ASSERT_EQ(run_cli({"-u", path}).status, 0);
    ASSERT_TRUE(runs(reference_dev, new_image));
    const std::vector<sim::request_record> reference = reference_dev.requests;
    const auto data = [&reference](std::size_t i) {
        return i < reference.size() && reference[i].bytes[1] == 'A' && reference[i].bytes[2] == 32;
    };
    std::vector<std::size_t> points;  // 1-based, as the fault rules count requests
    for (std::size_t i = 0, in_run = 0; i < reference.size(); ++i) {
        in_run = data(i) ? in_run + 1 : 0;
        if (!data(i) || in_run <= 2 || !data(i + 2) || in_run % 16 == 0) {
            points.push_back(i + 1);
        }
    }

    int failures = 0;
    for (const std::string kind : {"refuse@", "noreply@", "acknowrite@", "unplug="}) {
        for (const std::size_t point : points) {
            const std::string rule = kind + std::to_string(point);
            SCOPED_TRACE(rule + " at '" + char(reference[point - 1].bytes[1]) + "'");
            auto& dev = device_holding(old_image, GetParam());
            dev.arm(rule);
            const auto faulted = run_cli({"-u", path});
            const bool honest =
                faulted.status == 0
                    ? dev.requests.back().bytes == reference.back().bytes && runs(dev, new_image) &&
                          faulted.out.ends_with("VXR firmware update complete!\n")
                    : faulted.status == 1 && ostrel::testing::ends_with_failure(
                                                 faulted.err, "VXR firmware update failed.");
            const bool safe = pair_safe(dev, config_bank) && pair_safe(dev, fw_bank);
            EXPECT_TRUE(honest && safe)
                << "status " << faulted.status << ", bank status " << int(dev.state().bank_status);

            dev.state().fault_count = 0;
            if (dev.state().mode == sim::usb_mode::absent) {
                sim::replug(dev.state(), sim::usb_mode::application);
            }
            const bool finished = run_cli({"-u", path}).status == 0 && runs(dev, new_image) &&
                                  valid(dev, config_bank[0]) != valid(dev, config_bank[1]) &&
                                  valid(dev, fw_bank[0]) != valid(dev, fw_bank[1]) &&
                                  std::string(dev.state().bridge_version) == "VXR NEW";
            EXPECT_TRUE(finished) << "second run, bank status " << int(dev.state().bank_status);
            ASSERT_LT(failures += !honest || !safe || !finished, 10) << "giving up";
        }
    }
    std::cout << "brick-safety sweep from bank status " << int(GetParam()) << ": " << points.size()
              << " fault points of " << reference.size() << " requests, " << 4 * points.size()
              << " faulted runs\n";
}

INSTANTIATE_TEST_SUITE_P(OldCopyInBank, BrickSafety, ::testing::Values(0x05, 0x0A),
                         [](const auto& info) {
                             return info.param == 5 ? "Status05" : "Status0A";
                         });

}  // namespace
