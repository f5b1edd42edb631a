// The virtual bridge: NOR flash semantics, the confirmation word, ranges, and the bank
// status and version that follow from what is written.
#include <gtest/gtest.h>

#include <cstring>

#include "device/bootloader_thread.h"
#include "device/command_channel.h"
#include "sim/bridge_flash.h"
#include "tests/vxr/bridge_support.h"

namespace {

using namespace bridge_test;
using ostrel::bootloader_thread;

bootloader_thread connected() {
    bootloader_thread device;
    EXPECT_TRUE(device.connect_app());
    return device;
}

std::string version_of(bootloader_thread& device) {
    ostrel::hid_report buffer{};
    const auto text = device.read_bridge_version(buffer);
    return text ? std::string(text->c_str()) : "(none)";
}

TEST(BridgeModel, WritesOnlyClearBitsAndEraseSetsThem) {
    auto& dev = sim::inprocess_device::reset();
    auto device = connected();
    ASSERT_TRUE(device.write_flash_chunk(0x50000, {0xF0, 0x3C}));
    ASSERT_TRUE(device.write_flash_chunk(0x50000, {0x0F, 0xFF}));
    EXPECT_EQ(dev.state().bridge_flash[0x50000], 0x00);
    EXPECT_EQ(dev.state().bridge_flash[0x50001], 0x3C);
    ASSERT_TRUE(device.erase_flash_sector(0x50000));
    EXPECT_EQ(dev.state().bridge_flash[0x50000], 0xFF);
    ASSERT_TRUE(device.write_flash_chunk(0x5FFFF, {0x00}));
    ASSERT_TRUE(device.erase_flash_block(0x50000));
    EXPECT_EQ(dev.state().bridge_flash[0x5FFFF], 0xFF);
}

TEST(BridgeModel, EraseWithoutTheWordOrOutsideTheFlashIsRefused) {
    auto& dev = sim::inprocess_device::reset();
    auto device = connected();
    ASSERT_TRUE(device.write_flash_chunk(0x01000, {0x00}));
    auto no_word = ostrel::build_sector_erase_request(0x01000);
    no_word[12] = 'M';  // "KQWIPEZOM"
    EXPECT_FALSE(ostrel::send_app_command(device.app_handle, no_word, '$'));
    auto block_with_junk = ostrel::build_block_erase_request(0x00000);
    block_with_junk[3] = 0x01;
    EXPECT_FALSE(ostrel::send_app_command(device.app_handle, block_with_junk, '$'));
    EXPECT_EQ(dev.state().bridge_flash[0x01000], 0x00);
    EXPECT_FALSE(device.erase_flash_block(0x80000));
    EXPECT_FALSE(device.erase_flash_sector(0x80000));
    EXPECT_TRUE(device.erase_flash_sector(0x7F000));
}

TEST(BridgeModel, RangesBeyondTheFlashAreRefused) {
    sim::inprocess_device::reset();
    auto device = connected();
    EXPECT_EQ(device.read_flash_checksum(0x7FFFF, 1), 0xFFu);
    EXPECT_EQ(device.read_flash_checksum(0x7FFFF, 2), 0u);
    EXPECT_EQ(device.read_flash_checksum(0xFFFFFFFF, 2), 0u);
    EXPECT_TRUE(device.write_flash_chunk(0x7FFE0, ostrel::byte_vector(32, 0x00)));
    EXPECT_FALSE(device.write_flash_chunk(0x7FFE1, ostrel::byte_vector(32, 0x00)));
}

TEST(BridgeModel, AcknowledgedWriteAndEraseThatDoNothing) {
    auto& dev = sim::inprocess_device::reset();
    dev.arm("acknowrite:app/A@1");
    dev.arm("acknowrite:app/D@2");
    auto device = connected();
    EXPECT_TRUE(device.write_flash_chunk(0x60000, {0x00}));
    EXPECT_EQ(dev.state().bridge_flash[0x60000], 0xFF);
    EXPECT_TRUE(device.write_flash_chunk(0x60000, {0x00}));
    EXPECT_TRUE(device.erase_flash_block(0x70000));
    EXPECT_TRUE(device.erase_flash_block(0x60000));
    EXPECT_EQ(dev.state().bridge_flash[0x60000], 0x00);
}

TEST(BridgeModel, BankStatusFollowsTheTrailersAndKeepsItsHighBits) {
    sim::device_options options;
    options.bank_status = 0xFA;  // config 1 and firmware 1 valid, high bits set
    auto& dev = sim::inprocess_device::reset(options);
    EXPECT_EQ(dev.state().bridge_flash[0x27FF0], sim::trailer_stamp_first);
    EXPECT_EQ(dev.state().bridge_flash[0x3FFFF], sim::trailer_stamp_last);
    EXPECT_EQ(dev.state().bridge_flash[0x07FF0], 0xFF);
    auto device = connected();
    EXPECT_EQ(device.read_bank_status(), 0xFA);
    ASSERT_TRUE(device.write_flash_chunk(0x07FF0, {0x12}));
    EXPECT_EQ(device.read_bank_status(), 0xFA);  // the last trailer byte is still 0xFF
    ASSERT_TRUE(device.write_flash_chunk(0x07FFF, {0x34}));
    EXPECT_EQ(device.read_bank_status(), 0xFB);
    ASSERT_TRUE(device.write_flash_chunk(0x3FFFF, {0x00}));  // one zeroed byte is enough
    EXPECT_EQ(device.read_bank_status(), 0xF3);
    ASSERT_TRUE(device.erase_flash_block(0x20000));
    EXPECT_EQ(device.read_bank_status(), 0xF1);
    EXPECT_EQ(dev.state().bank_status, 0xF1);
}

TEST(BridgeModel, VersionComesFromTheFirmwareBankInUse) {
    sim::device_options options;
    options.bridge_version = "VXR BASE";
    options.bank_status = 0x05;
    auto& dev = sim::inprocess_device::reset(options);
    auto device = connected();
    EXPECT_EQ(version_of(device), "VXR BASE");
    // Firmware bank 1 gets a version field, then becomes valid.
    const std::string text = "VXR 2.0";
    ASSERT_TRUE(device.write_flash_chunk(0x3FFB0, {text.begin(), text.end()}));
    ASSERT_TRUE(
        device.write_flash_region(0x3FFB0 + text.size(), ostrel::byte_vector(57, 0x00), nullptr));
    EXPECT_EQ(version_of(device), "VXR BASE");
    ASSERT_TRUE(device.write_flash_chunk(0x3FFF0, {0x42}));
    ASSERT_TRUE(device.write_flash_chunk(0x3FFFF, {0x42}));
    EXPECT_EQ(version_of(device), "VXR 2.0");
    // A field that is not text: the base version again.
    ASSERT_TRUE(device.write_flash_chunk(0x3FFB0, {0x00}));
    EXPECT_EQ(version_of(device), "VXR BASE");
    EXPECT_EQ(std::string(dev.state().bridge_version), "VXR BASE");
}

TEST(BridgeModel, GeneratedImageHoldsEachCopyTwiceWithValidTrailersAndVersion) {
    const image bytes = sim::make_fullrom_image(7, "VXR 7");
    ASSERT_EQ(bytes.size(), 0x80000u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 0x20000, bytes.begin() + 0x20000));
    EXPECT_NE(sim::make_fullrom_image(8, "VXR 7"), bytes);
    auto& dev = sim::inprocess_device::reset();
    sim::load_bridge_flash(dev.state(), bytes);
    EXPECT_EQ(dev.state().bank_status, 0x0F);
    EXPECT_EQ(std::string(dev.state().bridge_version), "VXR 7");
}

}  // namespace
