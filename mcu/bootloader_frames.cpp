#include "mcu/bootloader_frames.h"

namespace ostrel {
namespace {

byte_vector build_frame(std::uint8_t command, std::uint8_t argument, std::uint32_t address,
                        std::span<const std::uint8_t> data) {
    byte_vector frame;
    frame.reserve(report_size + data.size());
    frame.push_back(command);
    frame.push_back(argument);
    for (int shift = 0; shift < 32; shift += 8) {
        frame.push_back(static_cast<std::uint8_t>(address >> shift));
    }
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(crc8(frame));
    frame.insert(frame.begin(), 0x00);  // report number
    if (frame.size() < report_size) {
        frame.resize(report_size, 0x00);
    }
    return frame;
}

}  // namespace

std::uint8_t crc8(std::span<const std::uint8_t> bytes) {
    std::uint8_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
        }
    }
    return crc;
}

byte_vector build_data_frame(std::uint8_t length, std::uint32_t address, const byte_vector& data) {
    return build_frame(boot_data, length, address, data);
}

byte_vector build_program_frame(std::uint32_t address) {
    return build_frame(boot_program, 0x00, address, {});
}

byte_vector build_erase_frame(std::uint8_t mode, std::uint32_t address) {
    return build_frame(boot_erase, mode, address, {});
}

byte_vector build_fallback_erase_frame() {
    byte_vector frame(report_size, boot_fallback_fill);
    frame[0] = 0x00;
    frame[1] = boot_fallback_erase;
    return frame;
}

}  // namespace ostrel
