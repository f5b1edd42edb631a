#include <gtest/gtest.h>

#include "mcu/bootloader_frames.h"
#include "tests/mcu/bootloader_fixture.h"
#include "tests/mcu/hex_writer.h"

namespace {

using namespace ostrel;
using namespace ostrel::testing;
using Commands = BootloaderTest;

TEST_F(Commands, MisalignedAddressesAreRefusedWithoutSending) {
    EXPECT_FALSE(device.mcu_write_chunk(0x404010, byte_vector(16, 1)));
    EXPECT_FALSE(device.mcu_write_page(0x404100, byte_vector(512, 1)));
    EXPECT_FALSE(device.mcu_erase_16k(0x406000));
    EXPECT_TRUE(dev->requests.empty());
    EXPECT_TRUE(device.mcu_erase_tail(0x406000));
    EXPECT_TRUE(device.mcu_erase_sector(0x406000));
    EXPECT_EQ(commands(), "ee");
}

TEST_F(Commands, ChunksOutsideOneToThirtyTwoBytesAreRefusedWithoutSending) {
    EXPECT_FALSE(device.mcu_write_chunk(0x404000, {}));
    EXPECT_FALSE(device.mcu_write_chunk(0x404000, byte_vector(33, 1)));
    EXPECT_FALSE(device.mcu_write_page(0x404000, byte_vector(513, 1)));
    EXPECT_TRUE(dev->requests.empty());
}

TEST_F(Commands, FullPageIsSixteenChunksThenProgram) {
    const byte_vector page = random_bytes(512, 1);
    ASSERT_TRUE(device.mcu_erase_tail(0x404000));
    ASSERT_TRUE(device.mcu_write_page(0x404200, page));
    ASSERT_EQ(commands(), "e" + std::string(16, 'D') + "P");
    for (std::size_t i = 0; i < 16; ++i) {
        const auto& request = dev->requests[1 + i];
        EXPECT_EQ(request.bytes[2], 32);
        EXPECT_EQ(address_of(request), 0x404200 + 32 * i);
    }
    EXPECT_EQ(address_of(dev->requests.back()), 0x404200u);
    const byte_vector stored = flash();
    EXPECT_EQ(byte_vector(stored.begin() + 0x200, stored.begin() + 0x400), page);
}

TEST_F(Commands, ShortPageEndsWithAShortChunk) {
    ASSERT_TRUE(device.mcu_write_page(0x404000, byte_vector(40, 0x12)));
    ASSERT_EQ(commands(), "DDP");
    EXPECT_EQ(dev->requests[1].bytes[2], 0x08);
    EXPECT_EQ(address_of(dev->requests[1]), 0x404020u);
}

TEST_F(Commands, EmptyPageSendsOnlyTheProgramRequest) {
    ASSERT_TRUE(device.mcu_write_page(0x404000, {}));
    ASSERT_EQ(commands(), "P");
    EXPECT_EQ(address_of(dev->requests[0]), 0x404000u);
}

TEST_F(Commands, UnansweredChunksCountAsAcceptedAndThePageStandsByItsProgramReply) {
    dev->arm("noreply:boot/D");
    EXPECT_TRUE(device.mcu_write_chunk(0x404000, {1}));
    EXPECT_TRUE(device.mcu_write_page(0x404000, byte_vector(512, 0x33)));
    dev->arm("refuse:boot/P");
    EXPECT_FALSE(device.mcu_write_page(0x404200, byte_vector(512, 0x33)));
}

TEST_F(Commands, RefusalQueuedBehindAChunkFailsTheNextChunkAndNoProgramGoesOut) {
    dev->arm("badstatus:boot/D@3");
    EXPECT_FALSE(device.mcu_write_page(0x404000, byte_vector(512, 0x44)));
    EXPECT_EQ(commands(), "DDDD");
}

TEST_F(Commands, RefusalMetInTheDrainFailsThePage) {
    dev->arm("badstatus:boot/D@16");
    EXPECT_FALSE(device.mcu_write_page(0x404000, byte_vector(512, 0x44)));
    EXPECT_EQ(commands(), std::string(16, 'D'));
}

TEST_F(Commands, LateChunkRepliesAreDrainedBeforeTheProgramRequest) {
    dev->arm("delay:boot/D@14=1");
    dev->arm("delay:boot/D@15=1");
    dev->arm("delay:boot/D@16=1");
    ASSERT_TRUE(device.mcu_write_page(0x404000, byte_vector(512, 0x55)));
    ASSERT_EQ(commands(), std::string(16, 'D') + "P");
    // The 'P' went out only once the last late reply had arrived, and took its own reply.
    EXPECT_GE(dev->requests.back().time_ns, dev->requests[15].time_ns + ms);
    EXPECT_EQ(dev->state().queue_count, 0u);
}

TEST_F(Commands, DrainGivesUpOnAFloodOfReports) {
    for (int i = 0; i < 63; ++i) {
        queue_status(0x00);
    }
    EXPECT_TRUE(device.mcu_write_page(0x404000, {}));  // 63 reports: drained, then 'P'
    for (std::size_t i = 0; i < sim::input_queue_capacity; ++i) {
        queue_status(0x00);
    }
    EXPECT_FALSE(device.mcu_write_page(0x404200, {}));
    EXPECT_EQ(commands(), "P");
}

TEST_F(Commands, ProgramAndEraseWaitOneSecondForTheirReply) {
    dev->arm("noreply:boot/P");
    dev->arm("noreply:boot/e");
    auto before = dev->now_ns();
    EXPECT_FALSE(device.mcu_write_page(0x404000, {}));
    EXPECT_GE(dev->now_ns() - before, 1000 * ms);
    EXPECT_LT(dev->now_ns() - before, 1002 * ms);
    before = dev->now_ns();
    EXPECT_FALSE(device.mcu_erase_16k(0x404000));
    EXPECT_GE(dev->now_ns() - before, 1000 * ms);
    EXPECT_LT(dev->now_ns() - before, 1002 * ms);
}

TEST_F(Commands, FallbackEraseWaitsTenSeconds) {
    dev->arm("delay:boot/0x22=9990");
    auto start = dev->now_ns();
    EXPECT_TRUE(device.mcu_fallback_erase());
    EXPECT_GE(dev->now_ns() - start, 9990 * ms);
    dev->arm("noreply:boot/0x22");
    start = dev->now_ns();
    EXPECT_FALSE(device.mcu_fallback_erase());
    EXPECT_GE(dev->now_ns() - start, 10000 * ms);
    EXPECT_LT(dev->now_ns() - start, 10002 * ms);
    EXPECT_EQ(dev->requests.back().bytes[0], 0x00);
}

}  // namespace
