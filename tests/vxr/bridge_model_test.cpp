// The virtual bridge: NOR flash, the confirmation word, ranges, and the bank status and
// version that follow from what is written.
#include <gtest/gtest.h>

#include "device/bootloader_thread.h"
#include "device/command_channel.h"
#include "sim/bridge_flash.h"
#include "tests/vxr/bridge_support.h"

namespace {

using ostrel::bootloader_thread;
using ostrel::byte_vector;

bootloader_thread connected() {
    bootloader_thread device;
    EXPECT_TRUE(device.connect_app());
    return device;
}

TEST(BridgeModel, NorFlashWithGuardedEraseAndBoundedRanges) {
    auto& dev = sim::inprocess_device::reset();
    const std::uint8_t* flash = dev.state().bridge_flash;
    auto device = connected();
    ASSERT_TRUE(device.write_flash_chunk(0x50000, {0xF0, 0x3C}));
    ASSERT_TRUE(device.write_flash_chunk(0x50000, {0x0F, 0xFF}));
    EXPECT_EQ(flash[0x50000], 0x00);  // a write only clears bits
    EXPECT_EQ(flash[0x50001], 0x3C);

    auto no_word = ostrel::build_sector_erase_request(0x50000);
    no_word[12] = 'M';
    EXPECT_FALSE(ostrel::send_app_command(device.app_handle, no_word, '$'));
    auto block_junk = ostrel::build_block_erase_request(0x50000);
    block_junk[3] = 0x01;
    EXPECT_FALSE(ostrel::send_app_command(device.app_handle, block_junk, '$'));
    EXPECT_EQ(flash[0x50000], 0x00);
    ASSERT_TRUE(device.erase_flash_sector(0x50000));
    EXPECT_EQ(flash[0x50000], 0xFF);

    EXPECT_FALSE(device.erase_flash_block(0x80000));
    EXPECT_FALSE(device.erase_flash_sector(0x80000));
    EXPECT_EQ(device.read_flash_checksum(0x7FFFF, 1), 0xFFu);
    EXPECT_EQ(device.read_flash_checksum(0x7FFFF, 2), 0u);
    EXPECT_EQ(device.read_flash_checksum(0xFFFFFFFF, 2), 0u);
    EXPECT_FALSE(device.write_flash_chunk(0x7FFE1, byte_vector(32, 0x00)));
}

TEST(BridgeModel, BankStatusFollowsTheTrailersAndKeepsItsHighBits) {
    sim::device_options options;
    options.bank_status = 0xFA;  // config 1 and firmware 1 valid, bits 4 to 7 set
    auto& dev = sim::inprocess_device::reset(options);
    EXPECT_EQ(dev.state().bridge_flash[0x27FF0], sim::trailer_stamp_first);
    EXPECT_EQ(dev.state().bridge_flash[0x3FFFF], sim::trailer_stamp_last);
    auto device = connected();
    EXPECT_EQ(device.read_bank_status(), 0xFA);
    ASSERT_TRUE(device.write_flash_chunk(0x07FF0, {0x12}));
    EXPECT_EQ(device.read_bank_status(), 0xFA);  // its last trailer byte is still 0xFF
    ASSERT_TRUE(device.write_flash_chunk(0x07FFF, {0x34}));
    EXPECT_EQ(device.read_bank_status(), 0xFB);
    ASSERT_TRUE(device.write_flash_chunk(0x3FFFF, {0x00}));
    EXPECT_EQ(device.read_bank_status(), 0xF3);
    ASSERT_TRUE(device.erase_flash_block(0x20000));
    EXPECT_EQ(device.read_bank_status(), 0xF1);
}

TEST(BridgeModel, VersionComesFromTheFirmwareBankInUse) {
    sim::device_options options;
    options.bridge_version = "VXR BASE";
    auto& dev = sim::inprocess_device::reset(options);
    const auto version = [&dev] { return std::string(dev.state().bridge_version); };
    auto device = connected();
    const std::string text = "VXR 2.0";
    ASSERT_TRUE(device.write_flash_chunk(0x3FFB0, {text.begin(), text.end()}));
    ASSERT_TRUE(device.write_flash_region(0x3FFB7, byte_vector(57, 0x00), nullptr));
    EXPECT_EQ(version(), "VXR BASE");  // firmware bank 1 is not valid yet
    ASSERT_TRUE(device.invalidate_bank(4));
    ASSERT_TRUE(device.write_flash_region(0x3FFF0, byte_vector(16, 0x42), nullptr));
    EXPECT_EQ(version(), "VXR 2.0");
    ASSERT_TRUE(device.write_flash_chunk(0x3FFB0, {0x00}));  // no longer text
    EXPECT_EQ(version(), "VXR BASE");

    const auto image = sim::make_fullrom_image(7, "VXR 7");
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x20000, image.begin() + 0x20000));
    sim::load_bridge_flash(dev.state(), image);
    EXPECT_EQ(dev.state().bank_status, 0x0F);
    EXPECT_EQ(version(), "VXR 7");
}

}  // namespace
