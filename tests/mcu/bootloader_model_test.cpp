// The bootloader's side of the virtual device, request by request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "mcu/bootloader_frames.h"
#include "sim/model.h"

namespace {

using namespace ostrel;

// A bootloader request of any make, well-formed or not: report number 0x00, the command,
// an argument byte, the address, the data and the CRC-8 of all from the command on.
byte_vector frame_of(std::uint8_t command, std::uint8_t argument, std::uint32_t address,
                     const byte_vector& data) {
    byte_vector frame{0x00, command, argument};
    for (int i = 0; i < 4; ++i) {
        frame.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    }
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(crc8({frame.data() + 1, frame.size() - 1}));
    frame.resize(std::max<std::size_t>(frame.size(), 65), 0x00);
    return frame;
}

byte_vector fallback_frame() {
    const hid_report report = fallback_erase_report();
    return {report.begin(), report.end()};
}

class BootloaderModel : public ::testing::Test {
  protected:
    void SetUp() override { sim::init_state(*state, {.mode = sim::usb_mode::bootloader}); }

    // The status the model replies to `frame`.
    std::uint8_t send(const byte_vector& frame) {
        sim::request_bytes request{};
        std::copy_n(frame.begin(), request.size(), request.begin());
        const auto outcome = sim::bootloader_flash_command(*state, request, true);
        EXPECT_TRUE(outcome.replies);
        return outcome.reply[0];
    }

    std::uint8_t chunk(std::uint32_t address, const byte_vector& data) {
        return send(frame_of('D', static_cast<std::uint8_t>(data.size()), address, data));
    }

    // Whether every byte of [from, to) reads `value`.
    bool all(std::uint32_t from, std::uint32_t to, std::uint8_t value) const {
        const std::uint8_t* first = state->mcu_flash + (from - sim::mcu_flash_base);
        return std::all_of(first, first + (to - from), [=](std::uint8_t b) { return b == value; });
    }

    void zero_flash() { std::fill_n(state->mcu_flash, sim::mcu_flash_size, 0x00); }

    std::unique_ptr<sim::device_state> state = std::make_unique<sim::device_state>();
};

TEST_F(BootloaderModel, PageProgramsTheChunksThatArrivedOnlyIntoErasedFlash) {
    chunk(0x404000, byte_vector(32, 0x33));  // dropped: the next chunk is for another page
    EXPECT_EQ(chunk(0x404200, byte_vector(32, 0x11)), 0x00);
    EXPECT_EQ(chunk(0x404240, byte_vector(8, 0x22)), 0x00);
    EXPECT_EQ(send(frame_of('P', 0, 0x404200, {})), 0x00);
    EXPECT_TRUE(all(0x404200, 0x404220, 0x11) && all(0x404240, 0x404248, 0x22));
    EXPECT_TRUE(all(0x404220, 0x404240, 0xFF) && all(0x404248, 0x404400, 0xFF));
    EXPECT_EQ(send(frame_of('P', 0, 0x404000, {})), 0x00);
    EXPECT_TRUE(all(0x404000, 0x404200, 0xFF));
    chunk(0x404220, byte_vector(32, 0x0F));
    EXPECT_NE(send(frame_of('P', 0, 0x404200, {})), 0x00);  // the page is no longer erased
    EXPECT_TRUE(all(0x404220, 0x404240, 0xFF));
    ASSERT_EQ(send(frame_of('e', erase_mode_tail, 0x404000, {})), 0x00);
    chunk(0x404220, byte_vector(32, 0x0F));
    EXPECT_EQ(send(frame_of('P', 0, 0x404200, {})), 0x00);
    EXPECT_TRUE(all(0x404200, 0x404220, 0xFF) && all(0x404220, 0x404240, 0x0F));
}

TEST_F(BootloaderModel, BadCrcOutsideTheAreaOrOutOfShapeIsRefusedAndChangesNothing) {
    byte_vector bad_data = frame_of('D', 4, 0x404000, {1, 2, 3, 4});
    bad_data[11] ^= 0x01;
    byte_vector bad_program = frame_of('P', 0, 0x404000, {});
    bad_program[7] ^= 0x80;
    const byte_vector refused[] = {
        bad_data,
        bad_program,
        frame_of('D', 32, 0x403FE0, byte_vector(32, 0)),
        frame_of('D', 1, 0x480000, {0}),
        frame_of('D', 32, 0x47FFF0, byte_vector(32, 0)),  // misaligned
        frame_of('D', 33, 0x404000, byte_vector(33, 0)),
        frame_of('P', 0, 0x480000, {}),
        frame_of('P', 0, 0x404100, {}),
        frame_of('e', 3, 0x404000, {}),
        frame_of('e', erase_mode_16k, 0x406000, {}),
        frame_of('e', erase_mode_sector, 0x400000, {}),
    };
    for (const byte_vector& frame : refused) {
        EXPECT_NE(send(frame), 0x00) << int{frame[1]} << " at " << get_u32_le(frame, 3);
    }
    EXPECT_EQ(send(frame_of('P', 0, 0x404000, {})), 0x00);
    EXPECT_TRUE(all(0x404000, 0x404200, 0xFF));
    EXPECT_EQ(chunk(0x47FFE0, byte_vector(32, 0)), 0x00);  // the area's last chunk
}

TEST_F(BootloaderModel, EraseModesClearWhatTheySay) {
    // Whether erasing with `mode` at `address` clears [from, to) and nothing else.
    const auto clears = [&](std::uint8_t mode, std::uint32_t address, std::uint32_t from,
                            std::uint32_t to) {
        zero_flash();
        return send(frame_of('e', mode, address, {})) == 0x00 && all(from, to, 0xFF) &&
               all(0x404000, from, 0x00) && all(to, 0x480000, 0x00);
    };
    EXPECT_TRUE(clears(erase_mode_tail, 0x41E000, 0x41E000, 0x420000));  // cut at the sector end
    EXPECT_TRUE(clears(erase_mode_tail, 0x408000, 0x408000, 0x40C000));
    EXPECT_TRUE(clears(erase_mode_tail, 0x47C000, 0x47C000, 0x480000));
    EXPECT_TRUE(clears(erase_mode_16k, 0x408000, 0x408000, 0x40C000));
    EXPECT_TRUE(clears(erase_mode_sector, 0x442000, 0x440000, 0x460000));  // the whole sector
}

TEST_F(BootloaderModel, FallbackEraseNeedsItsFillAndReportNumberZero) {
    zero_flash();
    byte_vector frame = fallback_frame();
    frame[64] = 0x42;
    EXPECT_NE(send(frame), 0x00);
    frame = fallback_frame();
    frame[0] = 0x41;  // a report number the device does not use: the request goes astray
    sim::request_record record;
    ASSERT_TRUE(sim::receive(*state, 0, sim::channel::output, frame, record));
    EXPECT_EQ(state->queue_count, 0u);
    EXPECT_TRUE(all(0x404000, 0x480000, 0x00));
    EXPECT_EQ(send(fallback_frame()), 0x00);
    EXPECT_TRUE(all(0x404000, 0x480000, 0xFF));
}

}  // namespace
