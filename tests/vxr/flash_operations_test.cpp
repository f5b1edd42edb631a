// The pieces of the bridge update: flash operations refuse arguments outside the flash before
// anything is sent. The requests each operation sends, and their layouts, are checked in
// update_test.cpp (bridge_support's requests()); the Fullrom file's reading by the -u
// outcomes (tests/app/outcome_test.cpp) and the bad inputs (tests/interrupt).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/vxr/bridge_support.h"
#include "vxr/flash_operations.h"
#include "vxr/flash_requests.h"

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

}  // namespace
