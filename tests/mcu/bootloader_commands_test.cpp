#include <gtest/gtest.h>

#include "mcu/bootloader_commands.h"
#include "mcu/bootloader_frames.h"
#include "tests/mcu/bootloader_fixture.h"

namespace {

using namespace ostrel;
using namespace ostrel::testing;
using BootloaderCommands = BootloaderTest;

TEST_F(BootloaderCommands, MisalignedOrMisSizedRequestsAreRefusedWithoutSending) {
    EXPECT_FALSE(mcu_write_chunk(device, 0x404010, byte_vector(16, 1)));
    EXPECT_FALSE(mcu_write_chunk(device, 0x404000, {}));
    EXPECT_FALSE(mcu_write_chunk(device, 0x404000, byte_vector(33, 1)));
    EXPECT_FALSE(mcu_write_page(device, 0x404100, byte_vector(512, 1)));
    EXPECT_FALSE(mcu_write_page(device, 0x404000, byte_vector(513, 1)));
    EXPECT_FALSE(mcu_erase_16k(device, 0x406000));
    EXPECT_TRUE(dev->requests.empty());
    EXPECT_TRUE(mcu_erase_tail(device, 0x406000));  // 8 KiB alignment is enough for these two
    EXPECT_TRUE(mcu_erase_sector(device, 0x406000));
    EXPECT_EQ(commands(), "ee");
}

// A refusal queued behind a chunk fails the next chunk, or the page in the drain before 'P'.
TEST_F(BootloaderCommands, RefusedChunkFailsThePageBeforeItsProgramRequest) {
    for (const int nth : {3, 16}) {
        fresh({"badstatus:boot/D@" + std::to_string(nth)});
        EXPECT_FALSE(mcu_write_page(device, 0x404000, byte_vector(512, 0x44)));
        EXPECT_EQ(commands(), std::string(std::min(nth + 1, 16), 'D'));
    }
}

TEST_F(BootloaderCommands, LateChunkRepliesAreDrainedBeforeTheProgramRequest) {
    for (const char* fault : {"delay:boot/D@14=1", "delay:boot/D@15=1", "delay:boot/D@16=1"}) {
        dev->arm(fault);
    }
    ASSERT_TRUE(mcu_write_page(device, 0x404000, byte_vector(512, 0x55)));
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
    EXPECT_TRUE(mcu_write_page(device, 0x404000, {}));  // 63 reports: drained, then 'P'
    queue_reports(sim::input_queue_capacity);
    EXPECT_FALSE(mcu_write_page(device, 0x404200, {}));
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
    EXPECT_TRUE(mcu_fallback_erase(device));
    waits("noreply:boot/P", 1000, [&] { return mcu_write_page(device, 0x404000, {}); });
    waits("noreply:boot/e", 1000, [&] { return mcu_erase_16k(device, 0x404000); });
    waits("noreply:boot/0x22", 10000, [&] { return mcu_fallback_erase(device); });
}

}  // namespace
