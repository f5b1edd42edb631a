#include "tests/chaos/request_layouts.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sim/request_log.h"

namespace chaos_test {
namespace {

using bytes = sim::request_bytes;

constexpr std::uint32_t bridge_end = 0x80000;
constexpr std::uint32_t mcu_start = 0x404000;
constexpr std::uint32_t mcu_end = 0x480000;

std::uint32_t u32(const bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

bool zero_from(const bytes& b, std::size_t first) {
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(first), b.end(),
                       [](std::uint8_t x) { return x == 0; });
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// The ranges the program asks sums of: a bank of each pair and the esm region.
bool known_checksum_range(std::uint32_t address, std::uint32_t length) {
    constexpr std::uint32_t ranges[][2] = {{0x00000, 0x8000},
                                           {0x20000, 0x8000},
                                           {0x08000, 0x18000},
                                           {0x28000, 0x18000},
                                           {0x40000, 0x40000}};
    return std::any_of(std::begin(ranges), std::end(ranges),
                       [&](const auto& r) { return r[0] == address && r[1] == length; });
}

std::string application_error(const bytes& b) {
    switch (b[1]) {
        case '*':
        case 'N':
            return "";  // bytes 2 to 64 go out as the shared buffer holds them
        case 'B':
        case 'T':
            return zero_from(b, 2) ? "" : "bytes after the command not zero";
        case 'K':
            if (!known_checksum_range(u32(b, 2), u32(b, 6))) {
                return "checksum of " + hex(u32(b, 2)) + "+" + hex(u32(b, 6));
            }
            return zero_from(b, 10) ? "" : "bytes after the length not zero";
        case 'A': {
            const std::uint32_t count = b[2];
            const std::uint32_t address = u32(b, 3);
            if (count == 0 || count > 32) {
                return "write of " + std::to_string(count) + " bytes";
            }
            if (address >= bridge_end || count > bridge_end - address) {
                return "write at " + hex(address) + " outside the bridge's flash";
            }
            return zero_from(b, 7 + count) ? "" : "bytes after the data not zero";
        }
        case 'D': {
            if (std::memcmp(&b[4], "KQWIPEZON", 9) != 0) {
                return "erase without the confirmation word";
            }
            const bool sector = b[2] == 0x80;
            const std::uint32_t start =
                sector ? std::uint32_t{b[3]} << 12 : std::uint32_t{b[2]} << 16;
            if ((!sector && b[3] != 0) || start >= bridge_end) {
                return "erase at " + hex(start) + " outside the bridge's flash";
            }
            return zero_from(b, 13) ? "" : "bytes after the word not zero";
        }
        default:
            return "unknown application command";
    }
}

bool crc_ok(const bytes& b, std::size_t data_bytes) {
    return sim::frame_crc8({b.data() + 1, 6 + data_bytes}) == b[7 + data_bytes];
}

std::string bootloader_error(const bytes& b) {
    const std::uint32_t address = u32(b, 3);
    const auto in_area = [](std::uint32_t at, std::uint32_t length) {
        return at >= mcu_start && at < mcu_end && length <= mcu_end - at;
    };
    switch (b[1]) {
        case '*':
            return "";
        case 'B':
            return zero_from(b, 2) ? "" : "bytes after the command not zero";
        case 'D': {
            const std::uint32_t count = b[2];
            if (count == 0 || count > 32 || address % 32 != 0) {
                return "data chunk of " + std::to_string(count) + " at " + hex(address);
            }
            if (!in_area(address, count)) {
                return "data chunk at " + hex(address) + " outside the application area";
            }
            return crc_ok(b, count) && zero_from(b, 8 + count) ? "" : "bad CRC or padding";
        }
        case 'P':
            if (b[2] != 0 || address % 512 != 0 || !in_area(address, 512)) {
                return "program page at " + hex(address);
            }
            return crc_ok(b, 0) && zero_from(b, 8) ? "" : "bad CRC or padding";
        case 'e': {
            const std::uint32_t alignment = b[2] == 1 ? 0x4000 : 0x2000;
            if (b[2] > 2 || address % alignment != 0 || !in_area(address, 1)) {
                return "erase mode " + std::to_string(b[2]) + " at " + hex(address);
            }
            return crc_ok(b, 0) && zero_from(b, 8) ? "" : "bad CRC or padding";
        }
        case 0x22:
            return std::all_of(b.begin() + 2, b.end(), [](std::uint8_t x) { return x == 0x41; })
                       ? ""
                       : "fallback erase not filled with 'A'";
        default:
            return "unknown bootloader command";
    }
}

}  // namespace

std::string layout_error(const sim::request_record& record) {
    const bytes& b = record.bytes;
    const bool application = record.mode == sim::usb_mode::application;
    std::string error;
    if (b[0] != 0x00) {
        error = "report number " + hex(b[0]);
    } else if (record.via != (application ? sim::channel::feature : sim::channel::output)) {
        error = "sent on the wrong channel";
    } else {
        error = application ? application_error(b) : bootloader_error(b);
    }
    return error.empty() ? error : sim::describe_request(record) + ": " + error;
}

}  // namespace chaos_test
