// The bridge flash operations: the bytes each sends, the arguments refused before anything
// is sent, and region writes with their progress.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/bootloader_thread.h"
#include "tests/vxr/bridge_support.h"

namespace {

using namespace bridge_test;
using ostrel::bootloader_thread;
using ostrel::byte_vector;
using ::testing::ElementsAre;

bootloader_thread connected() {
    bootloader_thread device;
    EXPECT_TRUE(device.connect_app());
    return device;
}

std::vector<std::uint8_t> report(std::initializer_list<std::uint8_t> head) {
    std::vector<std::uint8_t> bytes(head);
    bytes.resize(65, 0x00);
    return bytes;
}

TEST(FlashOperations, EachCommandSendsItsExactRequest) {
    auto& dev = sim::inprocess_device::reset();
    auto device = connected();
    device.read_bank_status();
    device.read_flash_checksum(0x28000, 0x18000);
    device.write_flash_chunk(0x12345, {0xDE, 0xAD, 0xBE});
    device.erase_flash_sector(0x27000);
    device.erase_flash_block(0x30000);
    std::vector<std::vector<std::uint8_t>> sent;
    for (const auto& record : dev.requests) {
        sent.emplace_back(record.bytes.begin(), record.bytes.end());
    }
    EXPECT_THAT(
        sent,
        ElementsAre(report({0x00, 'T'}),
                    report({0x00, 'K', 0x00, 0x80, 0x02, 0x00, 0x00, 0x80, 0x01, 0x00}),
                    report({0x00, 'A', 3, 0x45, 0x23, 0x01, 0x00, 0xDE, 0xAD, 0xBE}),
                    report({0x00, 'D', 0x80, 0x27, 'K', 'Q', 'W', 'I', 'P', 'E', 'Z', 'O', 'N'}),
                    report({0x00, 'D', 0x03, 0x00, 'K', 'Q', 'W', 'I', 'P', 'E', 'Z', 'O', 'N'})));
}

TEST(FlashOperations, RefusedArgumentsAndNullHandleSendNothing) {
    auto& dev = sim::inprocess_device::reset();
    bootloader_thread none;
    EXPECT_EQ(none.read_bank_status(), 0);
    EXPECT_EQ(none.read_flash_checksum(0, 16), 0u);
    EXPECT_FALSE(none.write_flash_chunk(0, {1}));
    EXPECT_FALSE(none.invalidate_bank(1));
    EXPECT_FALSE(none.erase_flash_sector(0));
    EXPECT_FALSE(none.erase_flash_block(0));
    EXPECT_FALSE(none.write_flash_region(0, {1, 2}, [](double) { ADD_FAILURE(); }));

    auto device = connected();
    EXPECT_FALSE(device.write_flash_chunk(0x1000, {}));
    EXPECT_FALSE(device.write_flash_chunk(0x1000, byte_vector(33, 0x11)));
    EXPECT_FALSE(device.erase_flash_sector(0x20800));
    EXPECT_FALSE(device.erase_flash_block(0x28000));
    EXPECT_FALSE(device.invalidate_bank(3));
    EXPECT_FALSE(device.invalidate_bank(0));
    // A one-byte number cannot name these: cut to a byte, it would erase another unit.
    EXPECT_FALSE(device.erase_flash_sector(0x100000));
    EXPECT_FALSE(device.erase_flash_block(0x1030000));
    EXPECT_TRUE(dev.requests.empty());
}

TEST(FlashOperations, InvalidateBankZeroesFirstThenLastTrailerByte) {
    auto& dev = sim::inprocess_device::reset();  // banks 0 valid: status 0x05
    auto device = connected();
    EXPECT_TRUE(device.invalidate_bank(2));
    EXPECT_TRUE(device.invalidate_bank(4));
    EXPECT_THAT(requests(dev),
                ElementsAre("A 0x27FF0+0x1", "A 0x27FFF+0x1", "A 0x1FFF0+0x1", "A 0x1FFFF+0x1"));
    EXPECT_EQ(dev.state().bridge_flash[0x1FFFF], 0x00);
    EXPECT_EQ(device.read_bank_status(), 0x01);
    dev.arm("refuse:app/A@1");
    EXPECT_FALSE(device.invalidate_bank(8));
    EXPECT_EQ(count(dev, 'A'), 5u);  // the second byte is not tried
}

TEST(FlashOperations, RegionGoesIn32ByteChunksWithProgressAfterEach) {
    auto& dev = sim::inprocess_device::reset();
    auto device = connected();
    byte_vector data(33);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    std::vector<double> progress;
    const auto record = [&progress](double p) { progress.push_back(p); };
    EXPECT_TRUE(device.write_flash_region(0x4FFF0, data, record));
    EXPECT_THAT(requests(dev), ElementsAre("A 0x4FFF0+0x20", "A 0x50010+0x1"));
    EXPECT_THAT(progress, ElementsAre(32.0 / 33.0, 1.0));
    EXPECT_TRUE(holds(dev, {0x4FFF0, 33}, data, {0, 33}));

    EXPECT_TRUE(device.write_flash_region(0, {}, record));
    EXPECT_TRUE(device.write_flash_region(0x100, byte_vector(64, 0x0F), nullptr));
    EXPECT_EQ(progress.size(), 2u);
    EXPECT_EQ(dev.requests.size(), 4u);
}

TEST(FlashOperations, RegionStopsAtTheThirdChunkRefused) {
    auto& dev = sim::inprocess_device::reset();
    dev.arm("refuse:app/A@3");
    auto device = connected();
    int calls = 0;
    EXPECT_FALSE(
        device.write_flash_region(0x1000, byte_vector(200, 0x00), [&](double) { ++calls; }));
    EXPECT_EQ(count(dev, 'A'), 3u);
    EXPECT_EQ(calls, 2);
}

}  // namespace
