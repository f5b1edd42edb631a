// Fullrom files and the update decision: which bank's checksum is asked and compared with
// which bytes of the image, and what is never sent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "device/bootloader_thread.h"
#include "sim/bridge_flash.h"
#include "tests/vxr/bridge_support.h"
#include "vxr/fullrom.h"

namespace {

using namespace bridge_test;
using ostrel::bootloader_thread;
using ostrel::sum_bytes;

std::uint32_t byte_loop(const std::uint8_t* first, const std::uint8_t* last) {
    std::uint32_t sum = 0;
    for (; first != last; ++first) {
        sum += *first;
    }
    return sum;
}

TEST(SumBytes, KnownSums) {
    const std::string abc = "abc";
    const auto* p = reinterpret_cast<const std::uint8_t*>(abc.data());
    EXPECT_EQ(sum_bytes(p, p), 0u);
    EXPECT_EQ(sum_bytes(p, p + 3), 294u);
    const std::vector<std::uint8_t> ones(0x8000, 0xFF);
    EXPECT_EQ(sum_bytes(ones.data(), ones.data() + ones.size()), 0x7F8000u);
}

TEST(SumBytes, WrapsAt32BitsLikeTheByteLoop) {
    // 16843010 bytes of 0xFF sum to 2^32 + 254.
    const std::vector<std::uint8_t> ones(16843010, 0xFF);
    EXPECT_EQ(sum_bytes(ones.data(), ones.data() + ones.size()), 254u);
}

TEST(SumBytes, EqualsTheByteLoopAtEveryAlignmentAndLength) {
    std::mt19937 random(42);
    std::vector<std::uint8_t> data(5000);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(random() % 3 == 0 ? 0xFF : random());
    }
    for (std::size_t first = 0; first < 9; ++first) {
        for (std::size_t length = 0; first + length <= data.size(); length += 1 + length / 3) {
            const std::uint8_t* p = data.data() + first;
            ASSERT_EQ(sum_bytes(p, p + length), byte_loop(p, p + length)) << first << "+" << length;
        }
    }
}

TEST(ReadFile, ContentsEmptyMissingUnreadableAndTooLong) {
    ostrel::testing::temp_dir dir;
    ostrel::testing::write_file(dir.file("some"), std::string("\r\n\0\x1a", 4));
    ostrel::testing::write_file(dir.file("empty"), std::string());
    const auto some = ostrel::read_file(dir.file("some"));
    ASSERT_TRUE(some);
    EXPECT_EQ(*some, (ostrel::byte_vector{'\r', '\n', 0, 0x1a}));
    const auto empty = ostrel::read_file(dir.file("empty"));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    EXPECT_FALSE(ostrel::read_file(dir.file("missing")));
    EXPECT_FALSE(ostrel::read_file(dir.path()));  // a directory opens but cannot be read
    ostrel::testing::write_file(dir.file("long"), std::string(200000, 'x'));
    const auto cut = ostrel::read_file(dir.file("long"), 100000);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->size(), 100001u);
    EXPECT_EQ(ostrel::read_file(dir.file("long"), 200000)->size(), 200000u);
}

class Decision : public ::testing::Test {
  protected:
    ostrel::testing::temp_dir dir;
    const image fresh = sim::make_fullrom_image(11, "VXR NEW");
    const image stale = sim::make_fullrom_image(12, "VXR OLD");
    std::string path = write_image(dir, "new.fullrom", fresh);

    ostrel::vxr_update_plan decide(sim::inprocess_device& dev) {
        bootloader_thread device;
        EXPECT_TRUE(device.connect_app());
        dev.requests.clear();
        return device.check_vxr_update(path);
    }
};

MATCHER_P3(Plan, config, fw, esm, "") {
    return arg.config == config && arg.fw == fw && arg.esm == esm;
}

TEST_F(Decision, Status05AsksBank0OfEachPair) {
    auto& dev = device_holding(fresh, 0x05);
    EXPECT_THAT(decide(dev), Plan(false, false, false));
    const auto r = requests(dev);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].command, 'T');
    EXPECT_EQ(describe(r[1]), "K 0x00000+0x8000");
    EXPECT_EQ(describe(r[2]), "K 0x08000+0x18000");
    EXPECT_EQ(describe(r[3]), "K 0x40000+0x40000");
}

TEST_F(Decision, Status0FAsksBank1AndNeverBank0) {
    auto& dev = device_holding(stale, 0x0F);
    // Bank 1 of each pair holds the new copy; bank 0 still the old one.
    std::copy_n(fresh.begin() + 0x20000, 0x20000, dev.state().bridge_flash + 0x20000);
    std::copy_n(fresh.begin() + 0x40000, 0x40000, dev.state().bridge_flash + 0x40000);
    EXPECT_THAT(decide(dev), Plan(false, false, false));
    const auto r = requests(dev);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(describe(r[1]), "K 0x20000+0x8000");
    EXPECT_EQ(describe(r[2]), "K 0x28000+0x18000");
}

TEST_F(Decision, Status00AsksOnlyTheEsmAndMarksBothBanks) {
    auto& dev = device_holding(fresh, 0x00);
    EXPECT_THAT(decide(dev), Plan(true, true, false));
    const auto r = requests(dev);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].command, 'T');
    EXPECT_EQ(describe(r[1]), "K 0x40000+0x40000");
}

TEST_F(Decision, EachRegionThatDiffersIsMarked) {
    auto& dev = device_holding(fresh, 0x0A);
    dev.state().bridge_flash[0x27000] ^= 0x01;
    EXPECT_THAT(decide(dev), Plan(true, false, false));
    dev.state().bridge_flash[0x27000] ^= 0x01;
    dev.state().bridge_flash[0x30000] ^= 0x80;
    EXPECT_THAT(decide(dev), Plan(false, true, false));
    dev.state().bridge_flash[0x30000] ^= 0x80;
    dev.state().bridge_flash[0x7FFFF] ^= 0x10;
    EXPECT_THAT(decide(dev), Plan(false, false, true));
}

TEST_F(Decision, ValidBank1IsComparedWithTheImagesBank1Copy) {
    image split = fresh;
    split[0x20000] ^= 0x01;  // the image's two config copies differ
    ostrel::testing::write_file(path, split);
    auto& dev = device_holding(fresh, 0x0A);  // bank 1 holds the bank 0 copy
    EXPECT_THAT(decide(dev), Plan(true, false, false));
    dev.state().bridge_flash[0x20000] ^= 0x01;
    EXPECT_THAT(decide(dev), Plan(false, false, false));
}

TEST_F(Decision, FailedBankStatusMarksBothBanksAndStillAsksTheEsm) {
    auto& dev = device_holding(fresh, 0x05);
    dev.arm("refuse:app/T@1");
    EXPECT_THAT(decide(dev), Plan(true, true, false));
    EXPECT_EQ(requests(dev).size(), 2u);
}

TEST_F(Decision, RefusedChecksumIsADifferenceEvenWhenTheImageSumsToZero) {
    image zeros = fresh;
    std::fill(zeros.begin() + 0x40000, zeros.end(), 0x00);
    ostrel::testing::write_file(path, zeros);
    auto& dev = device_holding(zeros, 0x05);
    EXPECT_THAT(decide(dev), Plan(false, false, false));
    dev.arm("refuse:app/K@3");
    EXPECT_THAT(decide(dev), Plan(false, false, true));
}

TEST_F(Decision, UnreadableShortOrHugeFileOrNoDeviceSendsNothing) {
    auto& dev = device_holding(stale, 0x05);
    const std::string short_file = write_image(dir, "short", image(0x7FFFF, 0x00));
    const std::string huge_file = dir.file("huge");
    ostrel::testing::write_file(huge_file, image(ostrel::vxr::fullrom_file_limit + 1, 0x00));
    bootloader_thread device;
    EXPECT_THAT(device.check_vxr_update(path), Plan(false, false, false));  // no handle
    ASSERT_TRUE(device.connect_app());
    for (const std::string& file : {dir.file("missing"), short_file, huge_file, dir.path()}) {
        EXPECT_THAT(device.check_vxr_update(file), Plan(false, false, false)) << file;
    }
    EXPECT_TRUE(dev.requests.empty());
}

TEST_F(Decision, LongerImagesUseTheirFirst512KiB) {
    image longer = fresh;
    longer.resize(0x90000, 0x00);
    ostrel::testing::write_file(path, longer);
    auto& dev = device_holding(fresh, 0x05);
    EXPECT_THAT(decide(dev), Plan(false, false, false));
}

}  // namespace
