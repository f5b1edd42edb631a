// The bridge update: the decision (which copy of the image a valid bank 1 is compared
// with, failed queries), which banks are asked and written, how a pair whose banks both
// claim to be valid is settled, the progress reported, the checks before and after each
// trailer, and where it stops.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/bridge_flash.h"
#include "tests/vxr/bridge_support.h"
#include "vxr/update.h"
#include "vxr/update_decision.h"

namespace {

using namespace bridge_test;
using steps = std::vector<std::string>;

steps operator+(steps a, const steps& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Config, then firmware, written into one bank: all but the trailer, its sum, the trailer, the
// whole bank's sum, and only then the other bank invalidated.
const steps into_bank1 = {"D 0x20000+0x1000 x8", "A 0x20000+0x20 x1023", "A 0x27FE0+0x10",
                          "K 0x20000+0x7FF0",    "A 0x27FF0+0x10",       "K 0x20000+0x8000",
                          "A 0x07FF0+0x1",       "A 0x07FFF+0x1",        "D 0x28000+0x1000 x8",
                          "D 0x30000+0x10000",   "A 0x28000+0x20 x3071", "A 0x3FFE0+0x10",
                          "K 0x28000+0x17FF0",   "A 0x3FFF0+0x10",       "K 0x28000+0x18000",
                          "A 0x1FFF0+0x1",       "A 0x1FFFF+0x1"};
const steps into_bank0 = {"D 0x00000+0x1000 x8", "A 0x00000+0x20 x1023", "A 0x07FE0+0x10",
                          "K 0x00000+0x7FF0",    "A 0x07FF0+0x10",       "K 0x00000+0x8000",
                          "A 0x27FF0+0x1",       "A 0x27FFF+0x1",        "D 0x08000+0x1000 x8",
                          "D 0x10000+0x10000",   "A 0x08000+0x20 x3071", "A 0x1FFE0+0x10",
                          "K 0x08000+0x17FF0",   "A 0x1FFF0+0x10",       "K 0x08000+0x18000",
                          "A 0x3FFF0+0x1",       "A 0x3FFFF+0x1"};
const steps into_esm = {"D 0x40000+0x10000 x4", "A 0x40000+0x20 x8192", "K 0x40000+0x40000"};
const std::string k_cfg0 = "K 0x00000+0x8000", k_fw0 = "K 0x08000+0x18000",
                  k_cfg1 = "K 0x20000+0x8000", k_fw1 = "K 0x28000+0x18000",
                  k_esm = "K 0x40000+0x40000";
const steps checked_05 = {"T", k_cfg0, k_fw0, k_esm, "T"};  // the decision, the status
const steps checked_0a = {"T", k_cfg1, k_fw1, k_esm, "T"};
// Both banks of a pair valid: the decision asks no sum of the pair; the update asks both
// banks' and keeps the one that holds the image's copy (bank 0 when both do).
const steps config_kept0 = {k_cfg0, k_cfg1, "A 0x27FF0+0x1", "A 0x27FFF+0x1"};
const steps config_kept1 = {k_cfg0, k_cfg1, "A 0x07FF0+0x1", "A 0x07FFF+0x1"};
const steps fw_kept0 = {k_fw0, k_fw1, "A 0x3FFF0+0x1", "A 0x3FFFF+0x1"};
const steps config_into_bank0 = steps(into_bank0.begin(), into_bank0.begin() + 8);
steps fw_of(const steps& into) {
    return steps(into.begin() + 8, into.end());
}

class Update : public ::testing::Test {
  protected:
    image fresh = sim::make_fullrom_image(21, "VXR NEW");
    const image stale = sim::make_fullrom_image(22, "VXR OLD");
    // The stale image but for the new config copy in bank 1: an update stopped between that
    // bank's trailer and the invalidation of bank 0.
    const image half = [this] {
        image bytes = stale;
        std::copy_n(fresh.begin(), 0x8000, bytes.begin() + 0x20000);
        return bytes;
    }();
    std::vector<double> progress;

    bool update(sim::inprocess_device& dev, const image& bytes) {
        auto device = connected();
        dev.requests.clear();
        progress.clear();
        ostrel::vxr::update_report report;
        return ostrel::vxr::flash_update(
            device, bytes, [this](double p) { progress.push_back(p); }, report);
    }
    // The plan for `fresh` as "config fw esm" flags, e.g. "-- fw --".
    std::string decide() {
        auto device = connected();
        const auto plan = ostrel::vxr::check_update(device, fresh);
        return std::string(plan.config ? "config" : "--") + (plan.fw ? " fw" : " --") +
               (plan.esm ? " esm" : " --");
    }
};

TEST_F(Update, DecisionComparesValidBank1WithTheImagesBank1CopyAndOnly512KiBCount) {
    auto& dev = device_holding(fresh, 0x0A);  // bank 1 holds the image's bank 1 copy
    fresh[0x20000] ^= 0x01;                   // now the image's two config copies differ
    fresh.resize(0x90000, 0x00);              // and the file is longer than an image
    EXPECT_EQ(decide(), "config -- --");
    dev.state().bridge_flash[0x20000] ^= 0x01;
    EXPECT_EQ(decide(), "-- -- --");
}

TEST_F(Update, DecisionCountsFailedQueriesAsDifferences) {
    device_holding(fresh, 0x0F).arm("refuse:app/T@1");  // every bank holds the image
    EXPECT_EQ(decide(), "config fw --");
    // A lost checksum is a difference even where the image's sum is 0, as a lost reply's is.
    std::fill(fresh.begin() + 0x40000, fresh.end(), 0x00);
    auto& zeroed = device_holding(fresh, 0x05);
    EXPECT_EQ(decide(), "-- -- --");
    zeroed.arm("noreply:app/K@3");
    EXPECT_EQ(decide(), "-- -- esm");
}

// Which banks are asked and written from each starting state, and the progress: rising, one
// call per chunk written, the last at 1.
TEST_F(Update, AsksAndWritesTheRightBanks) {
    const std::size_t all = 12290, pairs = 4098, fw_only = 3073;  // progress calls
    // Status before (bits 4 to 7 to be ignored), old image, a byte of it flipped (or 0),
    // requests, status after, progress calls.
    const struct {  // NOLINT(clang-analyzer-optin.performance.Padding): a table
        std::uint8_t before;
        const image* old_image;
        std::uint32_t changed;
        steps sent;
        std::uint8_t after;
        std::size_t progress_calls;
    } rows[] = {
        {0x05, &stale, 0, checked_05 + into_bank1 + into_esm, 0x0A, all},
        {0x0A, &stale, 0, checked_0a + into_bank0 + into_esm, 0x05, all},
        {0x06, &fresh, 0, {"T", k_cfg1, k_fw0, k_esm, "T"}, 0x06, 0},
        {0x00, &fresh, 0, steps{"T", k_esm, "T"} + into_bank0, 0x05, pairs},
        {0xF0, &fresh, 0, steps{"T", k_esm, "T"} + into_bank0, 0xF5, pairs},
        {0x03, &fresh, 0, steps{"T", k_esm, "T"} + config_kept0 + fw_of(into_bank0), 0x05, fw_only},
        {0x0C, &fresh, 0, steps{"T", k_esm, "T"} + fw_kept0 + config_into_bank0, 0x05, 1025},
        {0x0F, &fresh, 0, steps{"T", k_esm, "T"} + config_kept0 + fw_kept0, 0x05, 0},
        // Neither bank holds the image: bank 1 invalidated, and written.
        {0x0F, &stale, 0,
         steps{"T", k_esm, "T", k_cfg0, k_cfg1, "A 0x27FF0+0x1", "A 0x27FFF+0x1", k_fw0, k_fw1,
               "A 0x3FFF0+0x1", "A 0x3FFFF+0x1"} +
             into_bank1 + into_esm,
         0x0A, all},
        // Bank 1 holds it: bank 0 invalidated, the pair not written again.
        {0x07, &half, 0,
         steps{"T", k_fw0, k_esm, "T"} + config_kept1 + fw_of(into_bank1) + into_esm, 0x0A, 11265},
        {0x05, &fresh, 0x10000, checked_05 + fw_of(into_bank1), 0x09, fw_only},
        {0x05, &fresh, 0x50000, checked_05 + into_esm, 0x05, 8192},
    };
    for (const auto& [before, old_image, changed, sent, after, progress_calls] : rows) {
        SCOPED_TRACE(testing::Message() << int(before) << " " << changed);
        auto& dev = device_holding(*old_image, before);
        dev.state().bank_status |= before & 0xF0;
        dev.state().bridge_flash[changed] ^= changed != 0 ? 0x01 : 0x00;
        ASSERT_TRUE(update(dev, fresh));
        EXPECT_THAT(requests(dev), testing::ElementsAreArray(sent));
        EXPECT_EQ(dev.state().bank_status, after);
        EXPECT_TRUE(update_finished(dev.state(), fresh, copy_match::written));
        ASSERT_EQ(progress.size(), progress_calls);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_TRUE(progress.empty() || progress.back() == 1.0);
    }
}

// Where a refused, unanswered or unmade request leaves the bridge (its status and the progress
// reported): never reporting success, never with a valid bank that holds a partial copy, and
// never without a valid bank in a pair.
TEST_F(Update, EachStageStopsAtItsFirstFailure) {
    const struct {  // NOLINT(clang-analyzer-optin.performance.Padding): a table
        std::uint8_t before;
        const char* rule;
        std::uint8_t after;
        std::size_t progress_calls;
    } rows[] = {
        // Taken for "no bank valid", a lost status would overwrite the running bank.
        {0x05, "noreply:app/T@2", 0x05, 0},
        {0x05, "refuse:app/D@3", 0x05, 0},  // third config sector
        {0x05, "refuse:app/A@700", 0x05, 699},
        // The trailer refused, or acknowledged but not made, or the whole bank's sum lost:
        // the new bank is invalidated again.
        {0x05, "refuse:app/A@1025", 0x05, 1024},
        {0x05, "acknowrite:app/A@1025", 0x05, 1025},
        {0x05, "noreply:app/K@5", 0x05, 1025},
        {0x05, "refuse:app/A@1026", 0x07, 1025},  // invalidation of config bank 0
        {0x05, "refuse:app/D@17", 0x06, 1025},    // the firmware block after its 8 sectors
        {0x05, "refuse:app/A@1500", 0x06, 1497},
        {0x05, "refuse:app/A@4101", 0x0E, 4098},  // invalidation of firmware bank 0
        {0x05, "refuse:app/A@4110", 0x0A, 4105},  // esm, after config and firmware switched
        // Acknowledged but not made: the sum of the bank but its trailer differs, and the
        // trailer is never written.
        {0x05, "acknowrite:app/D@2", 0x05, 1024},
        {0x05, "acknowrite:app/A@700", 0x05, 1024},
        {0x05, "acknowrite:app/A@3000", 0x06, 1025 + 3072},
        {0x05, "acknowrite:app/A@8000", 0x0A, 12290},
        {0x05, "noreply:app/K@4", 0x05, 1024},
        // Both banks of each pair claim to be valid: settling them erases nothing, and stops
        // at a sum that does not come.
        {0x0F, "noreply:app/K@3", 0x0F, 0},
        {0x0F, "unplug=8", 0x0D, 0},
        {0x0F, "refuse:app/A@2", 0x0D, 0},
    };
    for (const auto& [before, rule, after, progress_calls] : rows) {
        SCOPED_TRACE(rule);
        auto& dev = device_holding(stale, before, {}, {rule});
        const image flash(dev.state().bridge_flash, dev.state().bridge_flash + stale.size());
        EXPECT_FALSE(update(dev, fresh));
        EXPECT_EQ(dev.state().bank_status, after);
        EXPECT_EQ(progress.size(), progress_calls);
        EXPECT_TRUE(interruption_safe(dev.state(), before, flash, fresh, copy_match::written));
    }
}

}  // namespace
