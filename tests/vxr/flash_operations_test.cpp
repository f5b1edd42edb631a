// The pieces of the bridge update: flash operations refuse arguments outside the flash before
// anything is sent, and the byte sum of a region. The requests each operation sends, and their
// layouts, are checked in update_test.cpp (bridge_support's requests()); the Fullrom file's
// reading by the -u outcomes (tests/app/outcome_test.cpp) and the bad inputs (tests/interrupt).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "tests/vxr/bridge_support.h"
#include "vxr/flash_operations.h"
#include "vxr/flash_requests.h"
#include "vxr/fullrom.h"

namespace {

using namespace bridge_test;
using ostrel::byte_vector;
using namespace ostrel::vxr;
using ::testing::Each;

TEST(BridgeFlash, RefusedArgumentsSendNothing) {
    auto& dev = sim::inprocess_device::reset();
    auto device = connected();
    // Sector 0x100 and block 0x103, cut to a byte, would erase another unit.
    const byte_vector too_long(33, 0x11);
    EXPECT_THAT(
        (std::vector<bool>{
            write_flash_chunk(device, 0x1000, {}), write_flash_chunk(device, 0x1000, too_long),
            erase_flash_sector(device, 0x20800), erase_flash_block(device, 0x28000),
            invalidate_bank(device, esm_region, 0), erase_flash_sector(device, 0x100000),
            erase_flash_block(device, 0x1030000)}),
        Each(false));
    EXPECT_TRUE(dev.requests.empty());
}

TEST(VxrFullrom, SumBytesEqualsTheWrappingByteSum) {
    std::mt19937 random(42);
    image data(3000);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(random() % 3 == 0 ? 0xFF : random());
    }
    for (std::size_t first = 0; first < 9; ++first) {
        for (std::size_t length = 0; first + length <= data.size(); ++length) {
            const std::uint8_t* q = data.data() + first;
            ASSERT_EQ(sum_bytes(q, q + length), std::accumulate(q, q + length, 0u)) << length;
        }
    }
    const image ones(16843010, 0xFF);  // fills every lane; sums to 2^32 + 254
    EXPECT_EQ(sum_bytes(ones.data(), ones.data() + 0x8000), 0x7F8000u);
    EXPECT_EQ(sum_bytes(ones.data(), ones.data() + ones.size()), 254u);
}

}  // namespace
