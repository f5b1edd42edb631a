// The bootloader's side of the virtual device, request by request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "mcu/bootloader_frames.h"
#include "sim/model.h"

namespace {

using namespace ostrel;

class BootloaderModel : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::device_options options;
        options.mode = sim::usb_mode::bootloader;
        sim::init_state(*state, options);
    }

    std::uint8_t send(const byte_vector& frame, bool apply = true) {
        sim::request_bytes request{};
        std::copy_n(frame.begin(), std::min(frame.size(), request.size()), request.begin());
        const auto outcome = sim::bootloader_flash_command(*state, request, apply);
        EXPECT_TRUE(outcome.replies);
        return outcome.reply[0];
    }

    std::uint8_t chunk(std::uint32_t address, const byte_vector& data) {
        return send(build_data_frame(static_cast<std::uint8_t>(data.size()), address, data));
    }

    std::uint8_t at(std::uint32_t address) const {
        return state->mcu_flash[address - sim::mcu_flash_base];
    }

    // Whether every byte of [from, to) reads `value`.
    bool all(std::uint32_t from, std::uint32_t to, std::uint8_t value) const {
        return std::all_of(state->mcu_flash + (from - sim::mcu_flash_base),
                           state->mcu_flash + (to - sim::mcu_flash_base),
                           [value](std::uint8_t b) { return b == value; });
    }

    std::unique_ptr<sim::device_state> state = std::make_unique<sim::device_state>();
};

TEST_F(BootloaderModel, PageProgramsOnlyTheChunksThatArrived) {
    EXPECT_EQ(chunk(0x404200, byte_vector(32, 0x11)), 0x00);
    EXPECT_EQ(chunk(0x404240, byte_vector(8, 0x22)), 0x00);
    EXPECT_EQ(send(build_program_frame(0x404200)), 0x00);
    EXPECT_TRUE(all(0x404200, 0x404220, 0x11));
    EXPECT_TRUE(all(0x404220, 0x404240, 0xFF));
    EXPECT_TRUE(all(0x404240, 0x404248, 0x22));
    EXPECT_TRUE(all(0x404248, 0x404400, 0xFF));
    // The buffer is empty after 'P': programming the next page takes nothing along.
    EXPECT_EQ(send(build_program_frame(0x404400)), 0x00);
    EXPECT_TRUE(all(0x404400, 0x404600, 0xFF));
}

TEST_F(BootloaderModel, ChunksOfAnotherPageStartTheBufferAfresh) {
    chunk(0x404000, byte_vector(32, 0x11));
    chunk(0x404200, byte_vector(32, 0x22));
    EXPECT_EQ(send(build_program_frame(0x404000)), 0x00);
    EXPECT_TRUE(all(0x404000, 0x404200, 0xFF));
}

TEST_F(BootloaderModel, ProgrammingAPageThatIsNotErasedIsRefused) {
    chunk(0x404000, byte_vector(32, 0xF0));
    ASSERT_EQ(send(build_program_frame(0x404000)), 0x00);
    chunk(0x404020, byte_vector(32, 0x0F));
    EXPECT_NE(send(build_program_frame(0x404000)), 0x00);
    EXPECT_TRUE(all(0x404020, 0x404040, 0xFF));
    ASSERT_EQ(send(build_erase_frame(erase_mode_tail, 0x404000)), 0x00);
    chunk(0x404000, byte_vector(32, 0x0F));
    EXPECT_EQ(send(build_program_frame(0x404000)), 0x00);
    EXPECT_TRUE(all(0x404000, 0x404020, 0x0F));
}

TEST_F(BootloaderModel, FramesWithABadCrcAreRefusedAndChangeNothing) {
    byte_vector frame = build_data_frame(4, 0x404000, {1, 2, 3, 4});
    frame[11] ^= 0x01;
    EXPECT_NE(send(frame), 0x00);
    frame = build_program_frame(0x404000);
    frame[7] ^= 0x80;
    EXPECT_NE(send(frame), 0x00);
    EXPECT_EQ(send(build_program_frame(0x404000)), 0x00);
    EXPECT_TRUE(all(0x404000, 0x404200, 0xFF));
}

TEST_F(BootloaderModel, RequestsOutsideTheAreaOrOutOfShapeAreRefused) {
    EXPECT_NE(chunk(0x403FE0, byte_vector(32, 0)), 0x00);
    EXPECT_NE(chunk(0x47FFF0, byte_vector(32, 0)), 0x00);  // misaligned
    EXPECT_NE(chunk(0x480000, byte_vector(1, 0)), 0x00);
    EXPECT_NE(chunk(0x404000, byte_vector(33, 0)), 0x00);
    EXPECT_NE(send(build_program_frame(0x480000)), 0x00);
    EXPECT_NE(send(build_program_frame(0x404100)), 0x00);
    EXPECT_NE(send(build_erase_frame(erase_mode_16k, 0x406000)), 0x00);
    EXPECT_NE(send(build_erase_frame(3, 0x404000)), 0x00);
    EXPECT_NE(send(build_erase_frame(erase_mode_sector, 0x400000)), 0x00);
    EXPECT_EQ(chunk(0x47FFE0, byte_vector(32, 0)), 0x00);  // the area's last chunk
}

TEST_F(BootloaderModel, EraseModesClearWhatTheySay) {
    std::memset(state->mcu_flash, 0x00, sim::mcu_flash_size);
    // Mode 0: 16 KiB from the address, cut at the end of its sector.
    ASSERT_EQ(send(build_erase_frame(erase_mode_tail, 0x41E000)), 0x00);
    EXPECT_TRUE(all(0x41E000, 0x420000, 0xFF));
    EXPECT_EQ(at(0x41DFFF), 0x00);
    EXPECT_EQ(at(0x420000), 0x00);
    ASSERT_EQ(send(build_erase_frame(erase_mode_tail, 0x47C000)), 0x00);
    EXPECT_TRUE(all(0x47C000, 0x480000, 0xFF));
    // Mode 1: exactly 16 KiB.
    ASSERT_EQ(send(build_erase_frame(erase_mode_16k, 0x408000)), 0x00);
    EXPECT_TRUE(all(0x408000, 0x40C000, 0xFF));
    EXPECT_EQ(at(0x407FFF), 0x00);
    EXPECT_EQ(at(0x40C000), 0x00);
    // Mode 2: the whole sector that holds the address.
    ASSERT_EQ(send(build_erase_frame(erase_mode_sector, 0x442000)), 0x00);
    EXPECT_TRUE(all(0x440000, 0x460000, 0xFF));
    EXPECT_EQ(at(0x43FFFF), 0x00);
    EXPECT_EQ(at(0x460000), 0x00);
}

TEST_F(BootloaderModel, FallbackEraseClearsTheAreaOnlyWithItsFill) {
    std::memset(state->mcu_flash, 0x00, sim::mcu_flash_size);
    byte_vector frame = build_fallback_erase_frame();
    frame[64] = 0x42;
    EXPECT_NE(send(frame), 0x00);
    EXPECT_TRUE(all(0x404000, 0x480000, 0x00));
    EXPECT_EQ(send(build_fallback_erase_frame()), 0x00);
    EXPECT_TRUE(all(0x404000, 0x480000, 0xFF));
}

TEST_F(BootloaderModel, RequestWithAReportNumberGoesAstray) {
    byte_vector frame = build_fallback_erase_frame();
    frame[0] = 0x41;
    std::memset(state->mcu_flash, 0x00, sim::mcu_flash_size);
    sim::request_record record;
    ASSERT_TRUE(sim::receive(*state, 0, sim::channel::output, frame, record));
    EXPECT_EQ(state->queue_count, 0u);
    EXPECT_TRUE(all(0x404000, 0x480000, 0x00));
}

}  // namespace
