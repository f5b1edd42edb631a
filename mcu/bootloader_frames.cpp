#include "mcu/bootloader_frames.h"

#include <algorithm>
#include <array>

namespace ostrel {
namespace {

// The CRC of every byte value, for a byte-at-a-time CRC.
constexpr std::array<std::uint8_t, 256> crc8_table = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        auto crc = static_cast<std::uint8_t>(value);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
        }
        table[value] = crc;
    }
    return table;
}();

// Writes the frame from the command on into `out` (which has room for 7 + data bytes) and
// returns how many bytes that is.
std::size_t write_frame(std::uint8_t* out, std::uint8_t command, std::uint8_t argument,
                        std::uint32_t address, std::span<const std::uint8_t> data) {
    out[0] = command;
    out[1] = argument;
    for (std::size_t i = 0; i < 4; ++i) {
        out[2 + i] = static_cast<std::uint8_t>(address >> (8 * i));
    }
    std::copy(data.begin(), data.end(), out + 6);
    out[6 + data.size()] = crc8({out, 6 + data.size()});
    return 7 + data.size();
}

hid_report build_report(std::uint8_t command, std::uint8_t argument, std::uint32_t address,
                        std::span<const std::uint8_t> data) {
    hid_report report{};
    write_frame(report.data() + 1, command, argument, address,
                data.first(std::min(data.size(), mcu_chunk_size)));
    return report;
}

}  // namespace

std::uint8_t crc8(std::span<const std::uint8_t> bytes) {
    std::uint8_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc = crc8_table[crc ^ byte];
    }
    return crc;
}

hid_report data_report(std::uint32_t address, std::span<const std::uint8_t> data) {
    return build_report(boot_data, static_cast<std::uint8_t>(std::min(data.size(), mcu_chunk_size)),
                        address, data);
}

hid_report program_report(std::uint32_t address) {
    return build_report(boot_program, 0x00, address, {});
}

hid_report erase_report(std::uint8_t mode, std::uint32_t address) {
    return build_report(boot_erase, mode, address, {});
}

hid_report fallback_erase_report() {
    hid_report report{};
    std::fill(report.begin() + 2, report.end(), boot_fallback_fill);
    report[1] = boot_fallback_erase;
    return report;
}

}  // namespace ostrel
