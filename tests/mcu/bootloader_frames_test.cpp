#include <gtest/gtest.h>

#include <string>

#include "mcu/bootloader_frames.h"

namespace {

using namespace ostrel;

// The first bytes of a frame; the rest must be 0x00 up to 65 bytes.
void expect_frame(const byte_vector& frame, const byte_vector& head) {
    ASSERT_EQ(frame.size(), 65u);
    EXPECT_EQ(byte_vector(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(head.size())),
              head);
    for (std::size_t i = head.size(); i < frame.size(); ++i) {
        EXPECT_EQ(frame[i], 0x00) << "byte " << i;
    }
}

TEST(Crc8, IsTheSmbusCrc) {
    const std::string check = "123456789";
    EXPECT_EQ(crc8({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}), 0xF4);
    EXPECT_EQ(crc8({}), 0x00);
}

TEST(BootloaderFrames, WorkedFramesCarryTheirCrcBytes) {
    expect_frame(build_program_frame(0x404000), {0x00, 0x50, 0x00, 0x00, 0x40, 0x40, 0x00, 0x35});
    expect_frame(build_erase_frame(erase_mode_16k, 0x404000),
                 {0x00, 0x65, 0x01, 0x00, 0x40, 0x40, 0x00, 0x7F});
    expect_frame(build_erase_frame(erase_mode_sector, 0x420000),
                 {0x00, 0x65, 0x02, 0x00, 0x00, 0x42, 0x00, 0x75});
    expect_frame(build_data_frame(4, 0x404000, {1, 2, 3, 4}),
                 {0x00, 0x44, 0x04, 0x00, 0x40, 0x40, 0x00, 0x01, 0x02, 0x03, 0x04, 0xD2});
}

TEST(BootloaderFrames, FallbackEraseIsAFillOfAWithReportNumberZero) {
    const byte_vector frame = build_fallback_erase_frame();
    ASSERT_EQ(frame.size(), 65u);
    EXPECT_EQ(frame[0], 0x00);
    EXPECT_EQ(frame[1], 0x22);
    for (std::size_t i = 2; i < frame.size(); ++i) {
        EXPECT_EQ(frame[i], 0x41) << "byte " << i;
    }
}

}  // namespace
