// The bridge flash operations against the virtual bridge: the bytes each sends, the
// arguments refused before anything is sent, and region writes with their progress.
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

std::vector<std::uint8_t> bytes_of(const sim::request_record& record) {
    return {record.bytes.begin(), record.bytes.end()};
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
    ASSERT_EQ(dev.requests.size(), 5u);
    EXPECT_EQ(bytes_of(dev.requests[0]), report({0x00, 'T'}));
    EXPECT_EQ(bytes_of(dev.requests[1]),
              report({0x00, 'K', 0x00, 0x80, 0x02, 0x00, 0x00, 0x80, 0x01, 0x00}));
    EXPECT_EQ(bytes_of(dev.requests[2]),
              report({0x00, 'A', 3, 0x45, 0x23, 0x01, 0x00, 0xDE, 0xAD, 0xBE}));
    EXPECT_EQ(bytes_of(dev.requests[3]),
              report({0x00, 'D', 0x80, 0x27, 'K', 'Q', 'W', 'I', 'P', 'E', 'Z', 'O', 'N'}));
    EXPECT_EQ(bytes_of(dev.requests[4]),
              report({0x00, 'D', 0x03, 0x00, 'K', 'Q', 'W', 'I', 'P', 'E', 'Z', 'O', 'N'}));
}

TEST(FlashOperations, ArgumentsOutsideTheRulesSendNothing) {
    auto& dev = sim::inprocess_device::reset();
    auto device = connected();
    EXPECT_FALSE(device.write_flash_chunk(0x1000, {}));
    EXPECT_FALSE(device.write_flash_chunk(0x1000, byte_vector(33, 0x11)));
    EXPECT_FALSE(device.erase_flash_sector(0x20800));
    EXPECT_FALSE(device.erase_flash_block(0x28000));
    EXPECT_FALSE(device.invalidate_bank(3));
    EXPECT_FALSE(device.invalidate_bank(0));
    // A one-byte number cannot name these: cutting it would erase another sector or block.
    EXPECT_FALSE(device.erase_flash_sector(0x100000));
    EXPECT_FALSE(device.erase_flash_sector(0x127000));
    EXPECT_FALSE(device.erase_flash_block(0x1000000));
    EXPECT_FALSE(device.erase_flash_block(0x1030000));
    EXPECT_TRUE(dev.requests.empty());
}

TEST(FlashOperations, LastNameableSectorAndBlockAreSentAndRefusedByTheSmallFlash) {
    auto& dev = sim::inprocess_device::reset();
    auto device = connected();
    EXPECT_FALSE(device.erase_flash_sector(0xFF000));
    EXPECT_FALSE(device.erase_flash_block(0xFF0000));
    ASSERT_EQ(dev.requests.size(), 2u);
    EXPECT_EQ(dev.requests[0].bytes[3], 0xFF);
    EXPECT_EQ(dev.requests[1].bytes[2], 0xFF);
}

TEST(FlashOperations, NullHandleFailsEverythingWithoutTraffic) {
    auto& dev = sim::inprocess_device::reset();
    bootloader_thread device;
    int progress_calls = 0;
    EXPECT_EQ(device.read_bank_status(), 0);
    EXPECT_EQ(device.read_flash_checksum(0, 16), 0u);
    EXPECT_FALSE(device.write_flash_chunk(0, {1}));
    EXPECT_FALSE(device.invalidate_bank(1));
    EXPECT_FALSE(device.erase_flash_sector(0));
    EXPECT_FALSE(device.erase_flash_block(0));
    EXPECT_FALSE(device.write_flash_region(0, {1, 2}, [&](double) { ++progress_calls; }));
    EXPECT_EQ(progress_calls, 0);
    EXPECT_TRUE(dev.requests.empty());
}

TEST(FlashOperations, InvalidateBankZeroesFirstThenLastTrailerByte) {
    auto& dev = sim::inprocess_device::reset();  // banks 0 valid, status 0x05
    auto device = connected();
    EXPECT_TRUE(device.invalidate_bank(2));
    EXPECT_TRUE(device.invalidate_bank(4));
    const auto writes = requests_of(dev, 'A');
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0].address, 0x27FF0u);
    EXPECT_EQ(writes[1].address, 0x27FFFu);
    EXPECT_EQ(writes[2].address, 0x1FFF0u);
    EXPECT_EQ(writes[3].address, 0x1FFFFu);
    for (const request& w : writes) {
        EXPECT_EQ(w.length, 1u);
        EXPECT_EQ(w.first_data, 0x00);
    }
    EXPECT_EQ(device.read_bank_status(), 0x01);
}

TEST(FlashOperations, InvalidateBankStopsAfterARefusedFirstWrite) {
    auto& dev = sim::inprocess_device::reset();
    dev.arm("refuse:app/A@1");
    auto device = connected();
    EXPECT_FALSE(device.invalidate_bank(8));
    EXPECT_EQ(requests_of(dev, 'A').size(), 1u);
}

TEST(FlashOperations, RegionOf33BytesGoesAs32Then1WithProgress) {
    auto& dev = sim::inprocess_device::reset();
    auto device = connected();
    byte_vector data(33);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    std::vector<double> progress;
    EXPECT_TRUE(device.write_flash_region(0x4FFF0, data, [&](double p) { progress.push_back(p); }));
    const auto writes = requests_of(dev, 'A');
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].address, 0x4FFF0u);
    EXPECT_EQ(writes[0].length, 32u);
    EXPECT_EQ(writes[1].address, 0x50010u);
    EXPECT_EQ(writes[1].length, 1u);
    EXPECT_THAT(progress, ElementsAre(32.0 / 33.0, 1.0));
    EXPECT_TRUE(holds(dev, {0x4FFF0, 33}, data, {0, 33}));
}

TEST(FlashOperations, EmptyRegionAndEmptyCallback) {
    auto& dev = sim::inprocess_device::reset();
    auto device = connected();
    int calls = 0;
    EXPECT_TRUE(device.write_flash_region(0, {}, [&](double) { ++calls; }));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(dev.requests.empty());
    EXPECT_TRUE(device.write_flash_region(0x100, byte_vector(64, 0x0F), nullptr));
    EXPECT_EQ(requests_of(dev, 'A').size(), 2u);
}

TEST(FlashOperations, RegionStopsAtTheThirdChunkRefused) {
    auto& dev = sim::inprocess_device::reset();
    dev.arm("refuse:app/A@3");
    auto device = connected();
    int calls = 0;
    EXPECT_FALSE(
        device.write_flash_region(0x1000, byte_vector(200, 0x00), [&](double) { ++calls; }));
    EXPECT_EQ(requests_of(dev, 'A').size(), 3u);
    EXPECT_EQ(calls, 2);
}

TEST(FlashOperations, RefusalsFailAtOnceAndSilenceAfterTheSecond) {
    auto& dev = sim::inprocess_device::reset();
    dev.arm("refuse:app/K@1");
    dev.arm("refuse:app/T@1");
    dev.arm("refuse:app/D@1");
    dev.arm("noreply:app/A@1");
    auto device = connected();
    const std::int64_t start = dev.now_ns();
    EXPECT_EQ(device.read_flash_checksum(0, 0x8000), 0u);
    EXPECT_EQ(device.read_bank_status(), 0);
    EXPECT_FALSE(device.erase_flash_block(0x40000));
    EXPECT_LT(dev.now_ns() - start, 10'000'000);  // no time-out waited
    EXPECT_FALSE(device.write_flash_chunk(0, {0}));
    EXPECT_GT(dev.now_ns() - start, 1'000'000'000);  // the lost reply: the whole second
}

TEST(FlashOperations, ChecksumIsTheDevicesByteSum) {
    sim::inprocess_device::reset();
    auto device = connected();
    ASSERT_TRUE(device.write_flash_region(0x40000, {0x00, 0x01, 0xFE}, nullptr));
    // Erased bytes count 0xFF each: 0x00 + 0x01 + 0xFE + 0xFF.
    EXPECT_EQ(device.read_flash_checksum(0x40000, 4), 0x1FEu);
    EXPECT_EQ(device.read_flash_checksum(0x40000, 0x40000), 0x3FC0000u - 0xFF - 0xFE - 0x01);
}

}  // namespace
