#include <gtest/gtest.h>

#include "mcu/bootloader_frames.h"
#include "tests/mcu/bootloader_fixture.h"

namespace {

using namespace ostrel;
using namespace ostrel::testing;
using BootloaderCommands = BootloaderTest;

byte_vector frame(byte_vector head) {
    head.resize(65, 0x00);
    return head;
}

TEST(BootloaderFrames, CrcAndFramesAreExact) {
    const std::string check = "123456789";  // CRC-8/SMBUS check value
    EXPECT_EQ(crc8({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}), 0xF4);
    EXPECT_EQ(build_program_frame(0x404000), frame({0, 0x50, 0, 0, 0x40, 0x40, 0, 0x35}));
    EXPECT_EQ(build_erase_frame(erase_mode_16k, 0x404000),
              frame({0, 0x65, 0x01, 0, 0x40, 0x40, 0, 0x7F}));
    EXPECT_EQ(build_erase_frame(erase_mode_sector, 0x420000),
              frame({0, 0x65, 0x02, 0, 0, 0x42, 0, 0x75}));
    EXPECT_EQ(build_data_frame(4, 0x404000, {1, 2, 3, 4}),
              frame({0, 0x44, 0x04, 0, 0x40, 0x40, 0, 1, 2, 3, 4, 0xD2}));
    byte_vector fallback(65, 0x41);  // 'A' fill, report number 0x00
    fallback[0] = 0x00;
    fallback[1] = 0x22;
    EXPECT_EQ(build_fallback_erase_frame(), fallback);
}

TEST_F(BootloaderCommands, MisalignedOrMisSizedRequestsAreRefusedWithoutSending) {
    EXPECT_FALSE(device.mcu_write_chunk(0x404010, byte_vector(16, 1)));
    EXPECT_FALSE(device.mcu_write_chunk(0x404000, {}));
    EXPECT_FALSE(device.mcu_write_chunk(0x404000, byte_vector(33, 1)));
    EXPECT_FALSE(device.mcu_write_page(0x404100, byte_vector(512, 1)));
    EXPECT_FALSE(device.mcu_write_page(0x404000, byte_vector(513, 1)));
    EXPECT_FALSE(device.mcu_erase_16k(0x406000));
    EXPECT_TRUE(dev->requests.empty());
    EXPECT_TRUE(device.mcu_erase_tail(0x406000));  // 8 KiB alignment is enough for these two
    EXPECT_TRUE(device.mcu_erase_sector(0x406000));
    EXPECT_EQ(commands(), "ee");
}

TEST_F(BootloaderCommands, ShortPageEndsWithAShortChunk) {
    ASSERT_TRUE(device.mcu_write_page(0x404000, byte_vector(40, 0x12)));
    ASSERT_EQ(commands(), "DDP");
    EXPECT_EQ(dev->requests[1].bytes[2], 8);
    EXPECT_EQ(flash()[39], 0x12);
    EXPECT_EQ(flash()[40], 0xFF);
}

// A refusal queued behind a chunk fails the next chunk, or the page in the drain before 'P'.
TEST_F(BootloaderCommands, RefusedChunkFailsThePageBeforeItsProgramRequest) {
    for (const int nth : {3, 16}) {
        SetUp();
        dev->arm("badstatus:boot/D@" + std::to_string(nth));
        EXPECT_FALSE(device.mcu_write_page(0x404000, byte_vector(512, 0x44)));
        EXPECT_EQ(commands(), std::string(std::min(nth + 1, 16), 'D'));
    }
}

TEST_F(BootloaderCommands, LateChunkRepliesAreDrainedBeforeTheProgramRequest) {
    for (const char* fault : {"delay:boot/D@14=1", "delay:boot/D@15=1", "delay:boot/D@16=1"}) {
        dev->arm(fault);
    }
    ASSERT_TRUE(device.mcu_write_page(0x404000, byte_vector(512, 0x55)));
    ASSERT_EQ(commands(), std::string(16, 'D') + "P");
    // The 'P' went out only once the last late reply had arrived, and took its own reply.
    EXPECT_GE(dev->requests.back().time_ns, dev->requests[15].time_ns + ms);
    EXPECT_EQ(dev->state().queue_count, 0u);
}

TEST_F(BootloaderCommands, DrainGivesUpOnAFloodOfReports) {
    // Status reports 0x00 waiting in the input queue, as many as `n`.
    const auto queue_reports = [&](std::size_t n) {
        for (auto& state = dev->state(); state.queue_count < n;) {
            state.queue[state.queue_count++] = {dev->now_ns(), {}, 0, 0};
        }
    };
    queue_reports(63);
    EXPECT_TRUE(device.mcu_write_page(0x404000, {}));  // 63 reports: drained, then 'P'
    queue_reports(sim::input_queue_capacity);
    EXPECT_FALSE(device.mcu_write_page(0x404200, {}));
    EXPECT_EQ(commands(), "P");
}

TEST_F(BootloaderCommands, ProgramEraseAndFallbackEraseWaitTheirTimeForAReply) {
    const auto waits = [&](const char* fault, std::int64_t timeout_ms, auto request) {
        dev->arm(fault);
        const auto before = dev->now_ns();
        EXPECT_FALSE(request()) << fault;
        EXPECT_GE(dev->now_ns() - before, timeout_ms * ms) << fault;
        EXPECT_LT(dev->now_ns() - before, (timeout_ms + 2) * ms) << fault;
    };
    dev->arm("delay:boot/0x22@1=9990");  // a late reply within the ten seconds is taken
    EXPECT_TRUE(device.mcu_fallback_erase());
    waits("noreply:boot/P", 1000, [&] { return device.mcu_write_page(0x404000, {}); });
    waits("noreply:boot/e", 1000, [&] { return device.mcu_erase_16k(0x404000); });
    waits("noreply:boot/0x22", 10000, [&] { return device.mcu_fallback_erase(); });
}

}  // namespace
