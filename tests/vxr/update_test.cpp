// The bridge update procedure: bank selection, the recovery from a contradictory status,
// the progress it reports, the check of every written region, and where it stops.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/bootloader_thread.h"
#include "sim/bridge_flash.h"
#include "tests/vxr/bridge_support.h"

namespace {

using namespace bridge_test;
using ostrel::bootloader_thread;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class Update : public ::testing::Test {
  protected:
    ostrel::testing::temp_dir dir;
    const image fresh = sim::make_fullrom_image(21, "VXR NEW");
    const image stale = sim::make_fullrom_image(22, "VXR OLD");
    const std::string path = write_image(dir, "new.fullrom", fresh);
    std::vector<double> progress;

    bool update(sim::inprocess_device& dev, const std::string& file) {
        bootloader_thread device;
        EXPECT_TRUE(device.connect_app());
        dev.requests.clear();
        return device.vxr_flash_update(file, [this](double p) { progress.push_back(p); });
    }
    bool update(sim::inprocess_device& dev) { return update(dev, path); }

    // The erases and non-data writes of the update, after the decision's queries.
    std::vector<std::string> steps(const sim::inprocess_device& dev) {
        std::vector<std::string> out;
        for (const request& r : requests(dev)) {
            if (r.command == 'D' || r.command == 'K' || (r.command == 'A' && r.length == 1)) {
                out.push_back(describe(r));
            } else if (r.command == 'A' && (out.empty() || out.back().rfind("A*", 0) != 0)) {
                out.push_back("A* " + describe(r).substr(2, 7));  // first chunk of a region
            }
        }
        return out;
    }
};

// The decision's four queries, then the update's own 'T'.
const std::vector<std::string> decision_05 = {"K 0x00000+0x8000", "K 0x08000+0x18000",
                                              "K 0x40000+0x40000"};

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> sectors(std::uint32_t start, int count = 8) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "D 0x%05X+0x1000", start + i * 0x1000);
        out.push_back(text);
    }
    return out;
}

std::vector<std::string> blocks(std::uint32_t start, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "D 0x%05X+0x10000", start + i * 0x10000);
        out.push_back(text);
    }
    return out;
}

TEST_F(Update, Status05WritesBank1ThenInvalidatesBank0AndReportsExactProgress) {
    auto& dev = device_holding(stale, 0x05);
    ASSERT_TRUE(update(dev));
    std::vector<std::string> expected = decision_05;
    expected = concat(expected, sectors(0x20000));
    expected =
        concat(expected, {"A* 0x20000", "K 0x20000+0x8000", "A 0x07FF0+0x1", "A 0x07FFF+0x1"});
    expected = concat(expected, sectors(0x28000));
    expected = concat(expected, blocks(0x30000, 1));
    expected =
        concat(expected, {"A* 0x28000", "K 0x28000+0x18000", "A 0x1FFF0+0x1", "A 0x1FFFF+0x1"});
    expected = concat(expected, blocks(0x40000, 4));
    expected = concat(expected, {"A* 0x40000", "K 0x40000+0x40000"});
    EXPECT_THAT(steps(dev), ElementsAreArray(expected));
    EXPECT_EQ(requests_of(dev, 'T').size(), 2u);

    ASSERT_EQ(progress.size(), 12288u);
    EXPECT_EQ(progress.front(), 32.0 / 393216.0);
    EXPECT_EQ(progress[1023], 1.0 / 12.0);
    EXPECT_EQ(progress[4095], 1.0 / 3.0);
    EXPECT_EQ(progress.back(), 1.0);
    for (std::size_t i = 0; i < progress.size(); ++i) {
        ASSERT_EQ(progress[i], static_cast<double>(32 * (i + 1)) / 393216.0) << i;
    }

    EXPECT_TRUE(holds(dev, config_bank[1], fresh, config_bank[0]));
    EXPECT_TRUE(holds(dev, fw_bank[1], fresh, fw_bank[0]));
    EXPECT_TRUE(holds(dev, esm, fresh, esm));
    EXPECT_EQ(dev.state().bank_status, 0x0A);
    EXPECT_EQ(std::string(dev.state().bridge_version), "VXR NEW");
}

TEST_F(Update, Status0AWritesBank0ThenInvalidatesBank1) {
    auto& dev = device_holding(stale, 0x0A);
    std::copy_n(fresh.begin() + 0x40000, 0x40000, dev.state().bridge_flash + 0x40000);
    ASSERT_TRUE(update(dev));
    std::vector<std::string> expected = {"K 0x20000+0x8000", "K 0x28000+0x18000",
                                         "K 0x40000+0x40000"};
    expected = concat(expected, sectors(0x00000));
    expected =
        concat(expected, {"A* 0x00000", "K 0x00000+0x8000", "A 0x27FF0+0x1", "A 0x27FFF+0x1"});
    expected = concat(expected, sectors(0x08000));
    expected = concat(expected, blocks(0x10000, 1));
    expected =
        concat(expected, {"A* 0x08000", "K 0x08000+0x18000", "A 0x3FFF0+0x1", "A 0x3FFFF+0x1"});
    EXPECT_THAT(steps(dev), ElementsAreArray(expected));
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_EQ(progress.size(), 4096u);
    EXPECT_EQ(dev.state().bank_status, 0x05);
}

TEST_F(Update, ContradictoryStatusErasesBothPairsAndRewritesBank0) {
    for (const std::uint8_t status : {0x03, 0x0C, 0x0F}) {
        SCOPED_TRACE(status);
        auto& dev = device_holding(fresh, status);  // nothing differs
        progress.clear();
        ASSERT_TRUE(update(dev));
        std::vector<std::string> s = steps(dev);
        // Whatever the decision asked, the recovery comes right after it.
        s.erase(s.begin(), std::find(s.begin(), s.end(), "D 0x00000+0x10000"));
        std::vector<std::string> expected = blocks(0x00000, 4);
        expected = concat(expected, sectors(0x00000));
        expected =
            concat(expected, {"A* 0x00000", "K 0x00000+0x8000", "A 0x27FF0+0x1", "A 0x27FFF+0x1"});
        expected = concat(expected, sectors(0x08000));
        expected = concat(expected, blocks(0x10000, 1));
        expected =
            concat(expected, {"A* 0x08000", "K 0x08000+0x18000", "A 0x3FFF0+0x1", "A 0x3FFFF+0x1"});
        EXPECT_THAT(s, ElementsAreArray(expected));
        EXPECT_EQ(progress.size(), 4096u);
        EXPECT_EQ(progress.front(), 32.0 / 131072.0);
        EXPECT_EQ(progress.back(), 1.0);
        EXPECT_EQ(dev.state().bank_status, 0x05);
    }
}

TEST_F(Update, RecoveryErasesAreNotChecked) {
    auto& dev = device_holding(fresh, 0x0F);
    dev.arm("refuse:app/D@1");
    dev.arm("refuse:app/D@3");
    EXPECT_TRUE(update(dev));
    EXPECT_EQ(dev.state().bank_status, 0x05);
}

TEST_F(Update, SingleRegionProgressIsTheStageFraction) {
    auto& dev = device_holding(fresh, 0x05);
    dev.state().bridge_flash[0x50000] ^= 0x01;
    ASSERT_TRUE(update(dev));
    ASSERT_EQ(progress.size(), 8192u);
    EXPECT_EQ(progress[0], 1.0 / 8192.0);
    EXPECT_EQ(progress[4095], 0.5);

    dev.state().bridge_flash[0x10000] ^= 0x01;  // firmware bank 0, the valid one
    progress.clear();
    ASSERT_TRUE(update(dev));
    ASSERT_EQ(progress.size(), 3072u);
    EXPECT_EQ(progress[1535], 0.5);
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_EQ(dev.state().bank_status, 0x09);
}

TEST_F(Update, NothingToDoMeansNoErasesNoWritesNoProgress) {
    auto& dev = device_holding(fresh, 0x05);
    EXPECT_TRUE(update(dev));
    EXPECT_TRUE(requests_of(dev, 'D').empty());
    EXPECT_TRUE(requests_of(dev, 'A').empty());
    EXPECT_TRUE(progress.empty());
}

TEST_F(Update, EmptyCallbackSameTraffic) {
    auto& dev = device_holding(stale, 0x05);
    bootloader_thread device;
    ASSERT_TRUE(device.connect_app());
    EXPECT_TRUE(device.vxr_flash_update(path, nullptr));
    EXPECT_EQ(dev.requests.size(),
              4u + 1u + (8 + 1024 + 1 + 2) + (9 + 3072 + 1 + 2) + (4 + 8192 + 1));
}

TEST_F(Update, NoHandleUnreadableOrShortFileSendNothing) {
    auto& dev = device_holding(stale, 0x05);
    bootloader_thread unconnected;
    EXPECT_FALSE(unconnected.vxr_flash_update(path, nullptr));
    EXPECT_FALSE(update(dev, dir.file("missing")));
    image cut = fresh;
    cut.resize(0x7FFFF);
    EXPECT_FALSE(update(dev, write_image(dir, "short.fullrom", cut)));
    EXPECT_FALSE(update(dev, write_image(dir, "empty.fullrom", {})));
    EXPECT_TRUE(dev.requests.empty());
    EXPECT_TRUE(progress.empty());
}

TEST_F(Update, UnansweredBankStatusFailsBeforeAnyErase) {
    // Taken for 0, a lost status would send the new copy over the bank the bridge runs from.
    auto& dev = device_holding(stale, 0x05);
    dev.arm("noreply:app/T@2");  // the update's own 'T', after the decision's
    EXPECT_FALSE(update(dev));
    EXPECT_TRUE(requests_of(dev, 'D').empty());
    EXPECT_TRUE(holds(dev, config_bank[0], stale, config_bank[0]));
}

TEST_F(Update, ThirdConfigSectorRefusedStopsBeforeWriting) {
    auto& dev = device_holding(stale, 0x05);
    dev.arm("refuse:app/D@3");
    EXPECT_FALSE(update(dev));
    EXPECT_EQ(requests_of(dev, 'D').size(), 3u);
    EXPECT_TRUE(requests_of(dev, 'A').empty());
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(dev.state().bank_status, 0x05);
}

TEST_F(Update, FirmwareBlockRefusedLeavesTheNewConfigSwitched) {
    auto& dev = device_holding(stale, 0x05);
    dev.arm("refuse:app/D@17");  // 8 config sectors, 8 firmware sectors, then the block
    EXPECT_FALSE(update(dev));
    EXPECT_EQ(dev.state().bank_status, 0x06);
    EXPECT_TRUE(holds(dev, fw_bank[0], stale, fw_bank[0]));
    EXPECT_EQ(progress.size(), 1024u);
}

TEST_F(Update, RefusedChunkLeavesTheOtherBankAlone) {
    auto& dev = device_holding(stale, 0x05);
    dev.arm("refuse:app/A@1500");  // inside the firmware region
    EXPECT_FALSE(update(dev));
    EXPECT_EQ(dev.state().bank_status, 0x06);
    EXPECT_TRUE(holds(dev, fw_bank[0], stale, fw_bank[0]));
    EXPECT_EQ(progress.size(), 1500u - 1u - 2u);  // every chunk before, not the invalidations
}

TEST_F(Update, EsmRefusedAfterConfigAndFirmwareWereSwitched) {
    auto& dev = device_holding(stale, 0x05);
    dev.arm("refuse:app/A@" + std::to_string(1024 + 2 + 3072 + 2 + 10));
    EXPECT_FALSE(update(dev));
    EXPECT_EQ(dev.state().bank_status, 0x0A);
    EXPECT_TRUE(holds(dev, fw_bank[1], fresh, fw_bank[0]));
}

TEST_F(Update, RefusedInvalidationKeepsTheOtherBank) {
    auto& dev = device_holding(stale, 0x05);
    dev.arm("refuse:app/A@1025");
    EXPECT_FALSE(update(dev));
    EXPECT_EQ(dev.state().bank_status, 0x07);  // new copy complete in bank 1, bank 0 kept
    EXPECT_EQ(requests_of(dev, 'D').size(), 8u);
}

TEST_F(Update, WriteAcknowledgedButNotMadeIsCaughtBeforeTheOldBankIsInvalidated) {
    auto& dev = device_holding(stale, 0x05);
    dev.arm("acknowrite:app/A@700");
    EXPECT_FALSE(update(dev));
    EXPECT_EQ(requests_of(dev, 'A').size(), 1024u);  // no invalidation write
    EXPECT_TRUE(holds(dev, config_bank[0], stale, config_bank[0]));
    EXPECT_EQ(dev.state().bank_status & 0x01, 0x01);
}

TEST_F(Update, EraseAcknowledgedButNotMadeIsCaught) {
    auto& dev = device_holding(stale, 0x0F);
    dev.state().bridge_flash[0x07FF0] = 0x00;  // bank 0 of each pair invalid but not erased
    dev.state().bridge_flash[0x1FFF0] = 0x00;
    dev.arm("acknowrite:app/D@2");
    EXPECT_FALSE(update(dev));
    EXPECT_EQ(requests_of(dev, 'A').size(), 1024u);  // no invalidation of bank 1
    EXPECT_TRUE(holds(dev, config_bank[1], stale, config_bank[0]));
    EXPECT_EQ(dev.state().bank_status, 0x0B);
}

TEST_F(Update, BadEsmWriteIsReportedAsFailure) {
    auto& dev = device_holding(fresh, 0x05);
    dev.state().bridge_flash[0x60000] ^= 0x01;
    dev.arm("acknowrite:app/A@8000");
    EXPECT_FALSE(update(dev));
    EXPECT_EQ(describe(requests(dev).back()), "K 0x40000+0x40000");
}

TEST_F(Update, LostVerificationReplyFailsWithoutInvalidating) {
    auto& dev = device_holding(stale, 0x05);
    dev.arm("noreply:app/K@4");  // the decision's three, then the check of the config
    EXPECT_FALSE(update(dev));
    EXPECT_EQ(requests_of(dev, 'A').size(), 1024u);
    EXPECT_EQ(dev.state().bank_status, 0x07);
}

}  // namespace
