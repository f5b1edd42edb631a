#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mcu/bootloader_frames.h"
#include "mcu/flash_update.h"
#include "tests/mcu/bootloader_fixture.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ostrel;
using namespace ostrel::testing;

constexpr std::uint32_t start = mcu_application_start;

std::vector<mcu_erase_request> sixteen_k_steps(std::uint32_t from, int count) {
    std::vector<mcu_erase_request> steps;
    for (int i = 0; i < count; ++i) {
        steps.push_back({erase_mode_16k, from + 0x4000u * static_cast<std::uint32_t>(i)});
    }
    return steps;
}

TEST(ErasePlan, FollowsTheSectorTable) {
    using plan = std::vector<mcu_erase_request>;
    EXPECT_EQ(plan_mcu_erase(0), plan{});
    EXPECT_EQ(plan_mcu_erase(1), (plan{{erase_mode_tail, 0x404000}}));
    EXPECT_EQ(plan_mcu_erase(0x4000), (plan{{erase_mode_tail, 0x404000}}));
    EXPECT_EQ(plan_mcu_erase(0x5000),
              (plan{{erase_mode_16k, 0x404000}, {erase_mode_tail, 0x408000}}));
    plan six = sixteen_k_steps(0x404000, 6);
    six.push_back({erase_mode_tail, 0x41C000});
    EXPECT_EQ(plan_mcu_erase(0x1C000), six);
    EXPECT_EQ(plan_mcu_erase(0x1C001),
              (plan{{erase_mode_sector, 0x404000}, {erase_mode_tail, 0x420000}}));
    plan full{{erase_mode_sector, 0x404000},
              {erase_mode_sector, 0x420000},
              {erase_mode_sector, 0x440000}};
    const plan seven = sixteen_k_steps(0x460000, 7);
    full.insert(full.end(), seven.begin(), seven.end());
    full.push_back({erase_mode_tail, 0x47C000});
    EXPECT_EQ(plan_mcu_erase(0x7C000), full);
}

class FlashUpdate : public BootloaderTest {
  protected:
    // Loads `data` at `address` and collects the progress values.
    bool load(const byte_vector& data, std::uint32_t address = start) {
        write_file(dir.file("image.hex"), hex_file(address, data));
        return load_file(dir.file("image.hex"));
    }

    bool load_file(const std::string& path) {
        progress.clear();
        return device.mcu_flash_update(
            path, [this](double f) { progress.push_back(f); }, report);
    }

    temp_dir dir;
    std::vector<double> progress;
    mcu_load_report report;
};

TEST_F(FlashUpdate, OneByteImageIsOneTailEraseAndOnePadded) {
    ASSERT_TRUE(load({0x5A}));
    EXPECT_EQ(commands(), "eDDDDDDDDDDDDDDDDP");
    EXPECT_EQ(dev->requests[0].bytes[2], erase_mode_tail);
    EXPECT_EQ(address_of(dev->requests[0]), start);
    EXPECT_EQ(progress, std::vector<double>{0.0});
    // The last chunk carries the pad bytes.
    EXPECT_EQ(dev->requests[16].bytes[7], 0xFF);
    EXPECT_EQ(flash()[0], 0x5A);
    EXPECT_EQ(flash()[1], 0xFF);
}

TEST_F(FlashUpdate, ProgressIsTheOffsetOfThePageJustWritten) {
    ASSERT_TRUE(load(byte_vector(1024, 1)));
    EXPECT_EQ(progress, (std::vector<double>{0.0, 0.5}));
    dev->requests.clear();
    ASSERT_TRUE(load(byte_vector(1000, 2)));
    EXPECT_EQ(progress, (std::vector<double>{0.0, 0.512}));
}

TEST_F(FlashUpdate, LargestImageFillsTheAreaInOrder) {
    const byte_vector data = random_bytes(mcu_application_size, 11);
    ASSERT_TRUE(load(data));
    EXPECT_EQ(flash(), data);
    std::vector<mcu_erase_request> erases;
    std::uint32_t last_page = 0;
    bool ascending = true;
    for (const auto& request : dev->requests) {
        if (request.bytes[1] == 'e') {
            EXPECT_EQ(last_page, 0u) << "erase after a page";
            erases.push_back({request.bytes[2], address_of(request)});
        } else if (request.bytes[1] == 'P') {
            ascending = ascending && address_of(request) > last_page;
            last_page = address_of(request);
        }
    }
    EXPECT_EQ(erases, plan_mcu_erase(mcu_application_size));
    EXPECT_TRUE(ascending);
    EXPECT_EQ(count('P'), mcu_application_size / 512);
    EXPECT_EQ(progress.size(), mcu_application_size / 512);
    EXPECT_LT(progress.back(), 1.0);
}

TEST_F(FlashUpdate, ImagesThatDoNotFitTheAreaSendNothing) {
    EXPECT_FALSE(load(byte_vector(mcu_application_size + 1, 0)));
    EXPECT_EQ(report.failure, mcu_load_failure::image_too_large);
    EXPECT_EQ(report.image_size, mcu_application_size + 1);
    EXPECT_FALSE(load({1}, 0x400000));
    EXPECT_EQ(report.failure, mcu_load_failure::wrong_base_address);
    EXPECT_EQ(report.base_address, 0x400000u);
    EXPECT_FALSE(load({1}, 0x404200));
    EXPECT_EQ(report.failure, mcu_load_failure::wrong_base_address);
    EXPECT_TRUE(dev->requests.empty());
}

TEST_F(FlashUpdate, UnreadableFileSendsNothingAndSaysWhy) {
    write_file(dir.file("bad.hex"), ":0100000001FF\n" + hex_eof);
    EXPECT_FALSE(load_file(dir.file("bad.hex")));
    EXPECT_EQ(report.failure, mcu_load_failure::hex_file);
    EXPECT_EQ(report.hex.defect, hex_defect::checksum_mismatch);
    EXPECT_EQ(report.hex.line, 1u);
    EXPECT_FALSE(load_file(dir.file("absent.hex")));
    EXPECT_EQ(report.hex.defect, hex_defect::cannot_open);
    EXPECT_TRUE(dev->requests.empty());
}

TEST_F(FlashUpdate, NoBootloaderHandleSendsNothing) {
    bootloader_thread closed;
    write_file(dir.file("image.hex"), hex_file(start, byte_vector{1}));
    EXPECT_FALSE(closed.mcu_flash_update(dir.file("image.hex"), {}, report));
    EXPECT_EQ(report.failure, mcu_load_failure::no_bootloader);
    EXPECT_TRUE(dev->requests.empty());
}

TEST_F(FlashUpdate, RefusedSectorEraseFallsBackToTheWholeAreaAndWritesOn) {
    std::memset(dev->state().mcu_flash, 0x00, sim::mcu_flash_size);
    dev->arm("refuse:boot/e");
    const byte_vector data = random_bytes(0x1C001, 5);
    ASSERT_TRUE(load(data));
    EXPECT_EQ(commands().substr(0, 3), "e\"D");
    EXPECT_EQ(count('e'), 1u);
    EXPECT_TRUE(report.fallback_erase);
    byte_vector expected = data;
    expected.resize(sim::mcu_flash_size, 0xFF);
    EXPECT_EQ(flash(), expected);
}

TEST_F(FlashUpdate, LaterEraseRefusedFallsBackOnceWithoutRepeatingEarlierErases) {
    dev->arm("refuse:boot/e@2");
    ASSERT_TRUE(load(byte_vector(0x9000, 3)));
    EXPECT_EQ(commands().substr(0, 4), "ee\"D");
}

TEST_F(FlashUpdate, FallbackUnansweredForTenSecondsFailsWithoutAPage) {
    dev->arm("refuse:boot/e");
    dev->arm("noreply:boot/0x22");
    const auto before = dev->now_ns();
    EXPECT_FALSE(load(byte_vector(100, 3)));
    EXPECT_EQ(report.failure, mcu_load_failure::erase_failed);
    EXPECT_EQ(commands(), "e\"");
    EXPECT_GE(dev->now_ns() - before, 10000 * ms);
    EXPECT_TRUE(progress.empty());
}

TEST_F(FlashUpdate, TenthPageRefusedStopsTheLoad) {
    dev->arm("refuse:boot/P@10");
    const std::size_t size = 20 * 512 + 7;
    EXPECT_FALSE(load(byte_vector(size, 9)));
    EXPECT_EQ(report.failure, mcu_load_failure::page_refused);
    EXPECT_EQ(report.page_address, start + 9 * 512);
    EXPECT_EQ(count('P'), 10u);
    ASSERT_EQ(progress.size(), 9u);
    EXPECT_EQ(progress.back(), 8.0 * 512 / size);
    EXPECT_EQ(flash()[9 * 512], 0xFF);  // the refused page was not programmed
}

TEST_F(FlashUpdate, EmptyImageErasesOnlyWithTheFallbackAndTakesItsResult) {
    write_file(dir.file("empty.hex"),
               hex_line(4, 0, {0x00, 0x40}) + "\n" + hex_line(0, 0x4000, {}) + "\n" + hex_eof);
    EXPECT_TRUE(load_file(dir.file("empty.hex")));
    EXPECT_EQ(commands(), "\"");
    EXPECT_TRUE(progress.empty());
    dev->arm("refuse:boot/0x22");
    EXPECT_FALSE(load_file(dir.file("empty.hex")));
    EXPECT_EQ(commands(), "\"\"");
}

TEST_F(FlashUpdate, EmptyProgressCallbackChangesNothingElse) {
    write_file(dir.file("image.hex"), hex_file(start, byte_vector(1500, 4)));
    ASSERT_TRUE(device.mcu_flash_update(dir.file("image.hex"), {}));
    EXPECT_EQ(count('P'), 3u);
    EXPECT_EQ(count('D'), 48u);
}

}  // namespace
