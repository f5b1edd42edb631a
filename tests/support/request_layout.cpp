#include "tests/support/request_layout.h"

#include <algorithm>
#include <cstring>

#include "sim/bridge_flash.h"
#include "sim/request_log.h"

namespace ostrel::testing {
namespace {

using bytes = std::span<const std::uint8_t>;

std::uint32_t u32(bytes b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

bool zero_from(bytes b, std::size_t first) {
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(first), b.end(),
                       [](std::uint8_t x) { return x == 0; });
}

// A bank, a bank but its trailer, or the esm region.
bool checksum_range(std::uint32_t start, std::uint32_t size) {
    const auto is = [&](sim::bridge_area a) { return a.start == start && a.size == size; };
    const auto bank = [&](sim::bridge_area a) {
        return is(a) || is({a.start, a.size - sim::bridge_trailer_size});
    };
    return std::any_of(std::begin(sim::bridge_banks), std::end(sim::bridge_banks), bank) ||
           is(sim::bridge_esm);
}

// `fault` unless the fields are `sound`, and zeros after them (from byte `end` on).
const char* fields(bytes b, bool sound, std::size_t end, const char* fault) {
    return !sound              ? fault
           : zero_from(b, end) ? nullptr
                               : "bytes after the request's fields not zero";
}

const char* application_fault(bytes b) {
    const std::uint32_t count = b[2];
    const std::uint32_t at = u32(b, 3);
    const std::uint32_t size = sim::bridge_flash_size;
    const bool sector = b[2] == 0x80;  // 'D': a sector b[3], or a block b[2] with b[3] zero
    const std::uint32_t erased = sector ? std::uint32_t{b[3]} << 12 : count << 16;
    switch (b[1]) {
        case '*':
        case 'N':
            return nullptr;  // bytes 2 to 64 go out as the shared buffer holds them
        case 'B':
        case 'T':
            return fields(b, true, 2, nullptr);
        case 'K':
            return fields(b, checksum_range(u32(b, 2), u32(b, 6)), 10,
                          "checksum of a range that is neither a bank (with or without its "
                          "trailer) nor the esm region");
        case 'A':
            return fields(b, count >= 1 && count <= 32 && at < size && count <= size - at,
                          7 + count, "bridge write of a bad size or outside the flash");
        case 'D':
            return fields(
                b,
                (sector || b[3] == 0) && erased < size && std::memcmp(&b[4], "KQWIPEZON", 9) == 0,
                13, "bridge erase outside the flash or without the confirmation word");
        default:
            return "a command the application does not know";
    }
}

const char* bootloader_fault(bytes b) {
    const std::uint32_t at = u32(b, 3);
    const std::uint32_t data = b[1] == 'D' ? b[2] : 0;
    // In the application area, aligned, and the frame's CRC over bytes 1 to 6 + data.
    const auto sound = [&](std::uint32_t size, std::uint32_t alignment) {
        return at % alignment == 0 && at >= sim::mcu_flash_base &&
               at - sim::mcu_flash_base < sim::mcu_flash_size &&
               size <= sim::mcu_flash_size - (at - sim::mcu_flash_base) &&
               sim::frame_crc8(b.subspan(1, 6 + data)) == b[7 + data];
    };
    switch (b[1]) {
        case '*':
            return nullptr;
        case 'B':
            return fields(b, true, 2, nullptr);
        case 'D':
            return fields(b, data >= 1 && data <= 32 && sound(data, 32), 8 + data,
                          "data chunk of a bad size, misaligned, outside the area or bad CRC");
        case 'P':
            return fields(b, b[2] == 0 && sound(512, 512), 8,
                          "page misaligned, outside the area or bad CRC");
        case 'e':
            return fields(b, b[2] <= 2 && sound(1, b[2] == 1 ? 0x4000 : 0x2000), 8,
                          "erase of a bad mode, misaligned, outside the area or bad CRC");
        case 0x22:
            return std::all_of(b.begin() + 2, b.end(), [](std::uint8_t x) { return x == 'A'; })
                       ? nullptr
                       : "fallback erase not filled with 'A'";
        default:
            return "a command the bootloader does not know";
    }
}

}  // namespace

const char* request_fault(bool to_application, bool feature, bytes report) {
    if (report.size() != 65 || report[0] != 0x00 || feature != to_application) {
        return "not 65 bytes, report number 0, on the identity's channel";
    }
    return to_application ? application_fault(report) : bootloader_fault(report);
}

}  // namespace ostrel::testing
