// The bridge update procedure: bank selection, the recovery from a contradictory status,
// the progress it reports, the check of every written region, and where it stops.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/bootloader_thread.h"
#include "sim/bridge_flash.h"
#include "tests/vxr/bridge_support.h"

namespace {

using namespace bridge_test;
using ::testing::ElementsAreArray;

class Update : public ::testing::Test {
  protected:
    ostrel::testing::temp_dir dir;
    const image fresh = sim::make_fullrom_image(21, "VXR NEW");
    const image stale = sim::make_fullrom_image(22, "VXR OLD");
    const std::string path = write_image(dir, "new.fullrom", fresh);
    std::vector<double> progress;

    bool update(sim::inprocess_device& dev, const std::string& file) {
        ostrel::bootloader_thread device;
        EXPECT_TRUE(device.connect_app());
        dev.requests.clear();
        return device.vxr_flash_update(file, [this](double p) { progress.push_back(p); });
    }
    bool update(sim::inprocess_device& dev) { return update(dev, path); }
};

// The requests after the decision, with each region's run of 32-byte chunks as one word
// ("A* 0x20000") and 'T' left out.
std::vector<std::string> steps(const sim::inprocess_device& dev) {
    std::vector<std::string> out;
    const auto all = requests(dev);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].ends_with("+0x20")) {
            if (!all[i - 1].ends_with("+0x20")) {
                out.push_back("A* " + all[i].substr(2, 7));
            }
        } else if (all[i] != "T") {
            out.push_back(all[i]);
        }
    }
    return out;
}

std::vector<std::string> erases(std::uint32_t start, int count, std::uint32_t unit) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "D 0x%05X+0x%X", start + i * unit, unit);
        out.push_back(text);
    }
    return out;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(Update, Status05WritesBank1ThenInvalidatesBank0WithExactProgress) {
    auto& dev = device_holding(stale, 0x05);
    ASSERT_TRUE(update(dev));
    const auto expected =
        std::vector<std::string>{"K 0x00000+0x8000", "K 0x08000+0x18000", "K 0x40000+0x40000"} +
        erases(0x20000, 8, 0x1000) +
        std::vector<std::string>{"A* 0x20000", "K 0x20000+0x8000", "A 0x07FF0+0x1",
                                 "A 0x07FFF+0x1"} +
        erases(0x28000, 8, 0x1000) + erases(0x30000, 1, 0x10000) +
        std::vector<std::string>{"A* 0x28000", "K 0x28000+0x18000", "A 0x1FFF0+0x1",
                                 "A 0x1FFFF+0x1"} +
        erases(0x40000, 4, 0x10000) + std::vector<std::string>{"A* 0x40000", "K 0x40000+0x40000"};
    EXPECT_THAT(steps(dev), ElementsAreArray(expected));
    EXPECT_EQ(dev.requests.size(),
              4u + 1u + (8 + 1024 + 1 + 2) + (9 + 3072 + 1 + 2) + (4 + 8192 + 1));

    ASSERT_EQ(progress.size(), 12288u);
    EXPECT_EQ(progress.front(), 32.0 / 393216.0);
    EXPECT_EQ(progress[1023], 1.0 / 12.0);
    EXPECT_EQ(progress[4095], 1.0 / 3.0);
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

    EXPECT_TRUE(holds(dev, config_bank[1], fresh, config_bank[0]));
    EXPECT_TRUE(holds(dev, fw_bank[1], fresh, fw_bank[0]));
    EXPECT_TRUE(holds(dev, esm, fresh, esm));
    EXPECT_EQ(dev.state().bank_status, 0x0A);
}

TEST_F(Update, Status0AWritesBank0ThenInvalidatesBank1) {
    auto& dev = device_holding(stale, 0x0A);
    std::copy_n(fresh.begin() + 0x40000, 0x40000, dev.state().bridge_flash + 0x40000);
    ASSERT_TRUE(update(dev));
    const auto expected =
        std::vector<std::string>{"K 0x20000+0x8000", "K 0x28000+0x18000", "K 0x40000+0x40000"} +
        erases(0x00000, 8, 0x1000) +
        std::vector<std::string>{"A* 0x00000", "K 0x00000+0x8000", "A 0x27FF0+0x1",
                                 "A 0x27FFF+0x1"} +
        erases(0x08000, 8, 0x1000) + erases(0x10000, 1, 0x10000) +
        std::vector<std::string>{"A* 0x08000", "K 0x08000+0x18000", "A 0x3FFF0+0x1",
                                 "A 0x3FFFF+0x1"};
    EXPECT_THAT(steps(dev), ElementsAreArray(expected));
    EXPECT_EQ(progress.size(), 4096u);
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_EQ(dev.state().bank_status, 0x05);
}

TEST_F(Update, ContradictoryStatusErasesBothPairsAndRewritesBank0) {
    for (const std::uint8_t status : {0x03, 0x0C, 0x0F}) {
        SCOPED_TRACE(int(status));
        auto& dev = device_holding(fresh, status);  // nothing differs
        dev.arm("refuse:app/D@2");                  // recovery erases are not checked
        progress.clear();
        ASSERT_TRUE(update(dev));
        auto s = steps(dev);
        s.erase(s.begin(), std::find(s.begin(), s.end(), "D 0x00000+0x10000"));
        const auto expected = erases(0x00000, 4, 0x10000) + erases(0x00000, 8, 0x1000) +
                              std::vector<std::string>{"A* 0x00000", "K 0x00000+0x8000",
                                                       "A 0x27FF0+0x1", "A 0x27FFF+0x1"} +
                              erases(0x08000, 8, 0x1000) + erases(0x10000, 1, 0x10000) +
                              std::vector<std::string>{"A* 0x08000", "K 0x08000+0x18000",
                                                       "A 0x3FFF0+0x1", "A 0x3FFFF+0x1"};
        EXPECT_THAT(s, ElementsAreArray(expected));
        EXPECT_EQ(progress.front(), 32.0 / 131072.0);
        EXPECT_EQ(progress.back(), 1.0);
        EXPECT_EQ(dev.state().bank_status, 0x05);
    }
}

TEST_F(Update, SingleRegionProgressIsTheStageFraction) {
    auto& dev = device_holding(fresh, 0x05);
    dev.state().bridge_flash[0x50000] ^= 0x01;
    ASSERT_TRUE(update(dev));
    ASSERT_EQ(progress.size(), 8192u);
    EXPECT_EQ(progress[4095], 0.5);
    dev.state().bridge_flash[0x10000] ^= 0x01;
    progress.clear();
    ASSERT_TRUE(update(dev));
    ASSERT_EQ(progress.size(), 3072u);
    EXPECT_EQ(progress[1535], 0.5);
    EXPECT_EQ(dev.state().bank_status, 0x09);
    progress.clear();
    ASSERT_TRUE(update(dev));  // nothing left to do
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(count(dev, 'D') + count(dev, 'A'), 0u);
}

TEST_F(Update, NoHandleOrAFileThatIsNoImageSendsNothing) {
    auto& dev = device_holding(stale, 0x05);
    ostrel::bootloader_thread unconnected;
    EXPECT_FALSE(unconnected.vxr_flash_update(path, nullptr));
    EXPECT_FALSE(update(dev, dir.file("missing")));
    EXPECT_FALSE(update(dev, write_image(dir, "short", image(fresh.begin(), fresh.end() - 1))));
    EXPECT_FALSE(update(dev, write_image(dir, "empty", {})));
    EXPECT_TRUE(dev.requests.empty());
    EXPECT_TRUE(progress.empty());
}

// Where a refused or unanswered request leaves the bridge: never without a valid bank.
TEST_F(Update, EachStageStopsAtItsFirstFailure) {
    struct row {
        std::string rule;
        std::uint8_t status_after;
        std::size_t progress_calls;
    };
    const row rows[] = {
        // Taken for "no bank valid", a lost status would overwrite the running bank.
        {"noreply:app/T@2", 0x05, 0},
        {"refuse:app/D@3", 0x05, 0},  // third config sector
        {"refuse:app/A@700", 0x05, 699},
        {"refuse:app/A@1025", 0x07, 1024},  // invalidation of config bank 0
        {"refuse:app/D@17", 0x06, 1024},    // the firmware block after its 8 sectors
        {"refuse:app/A@1500", 0x06, 1497},
        {"refuse:app/A@4110", 0x0A, 4105},  // esm, after config and firmware switched
        // Acknowledged but not written: the region's check fails, the old bank stays.
        {"acknowrite:app/A@700", 0x07, 1024},
        {"acknowrite:app/A@3000", 0x0E, 3072 + 1024},
        {"noreply:app/K@4", 0x07, 1024},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.rule);
        auto& dev = device_holding(stale, 0x05);
        dev.arm(r.rule);
        progress.clear();
        EXPECT_FALSE(update(dev));
        EXPECT_EQ(dev.state().bank_status, r.status_after);
        EXPECT_EQ(progress.size(), r.progress_calls);
        EXPECT_TRUE(
            (valid(dev, config_bank[0]) && holds(dev, config_bank[0], stale, config_bank[0])) ||
            (valid(dev, config_bank[1]) && holds(dev, config_bank[1], fresh, config_bank[0])));
        EXPECT_TRUE((valid(dev, fw_bank[0]) && holds(dev, fw_bank[0], stale, fw_bank[0])) ||
                    (valid(dev, fw_bank[1]) && holds(dev, fw_bank[1], fresh, fw_bank[0])));
    }
}

TEST_F(Update, EraseAcknowledgedButNotMadeIsCaught) {
    auto& dev = device_holding(stale, 0x0F);
    dev.state().bridge_flash[0x07FF0] = 0x00;  // bank 0 of each pair invalid, not erased
    dev.state().bridge_flash[0x1FFF0] = 0x00;
    dev.arm("acknowrite:app/D@2");
    EXPECT_FALSE(update(dev));
    EXPECT_EQ(count(dev, 'A'), 1024u);  // no invalidation of bank 1
    EXPECT_TRUE(holds(dev, config_bank[1], stale, config_bank[0]));
}

TEST_F(Update, BadEsmWriteIsReportedAsFailure) {
    auto& dev = device_holding(fresh, 0x05);
    dev.state().bridge_flash[0x60000] ^= 0x01;
    dev.arm("acknowrite:app/A@8000");
    EXPECT_FALSE(update(dev));
    EXPECT_EQ(requests(dev).back(), "K 0x40000+0x40000");
}

}  // namespace
