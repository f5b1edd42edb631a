// The decoding of a request report; the layouts are in sim/request_decode.h.
#include "sim/request_decode.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace sim {
namespace {

constexpr std::size_t most_data = 57;  // what a report holds after a write's or a chunk's fields

void bridge_fields(std::span<const std::uint8_t, 65> b, request_fields& f) {
    switch (f.command) {
        case 'K':
            f.address = le32(b, 2);
            f.length = le32(b, 6);
            f.end = 10;
            break;
        case 'A':
            f.address = le32(b, 3);
            f.length = f.argument;
            f.data = b.subspan(7, std::min<std::size_t>(f.argument, most_data));
            f.end = 7 + f.data.size();
            break;
        case 'D':
            f.sector = f.argument == 0x80;
            f.address = f.sector ? std::uint32_t{b[3]} << 12 : std::uint32_t{f.argument} << 16;
            f.length = f.sector ? 0x1000 : 0x10000;
            f.data = b.subspan(4, 9);
            f.confirmed = (f.sector || b[3] == 0) && std::memcmp(&b[4], "KQWIPEZON", 9) == 0;
            f.end = 13;
            break;
        default:
            break;
    }
}

void bootloader_fields(std::span<const std::uint8_t, 65> b, request_fields& f) {
    switch (f.command) {
        case 'D':
        case 'P':
        case 'e': {
            const std::size_t count =
                f.command == 'D' ? std::min<std::size_t>(f.argument, most_data) : 0;
            f.address = le32(b, 3);
            f.length = f.command == 'D' ? f.argument : 0;
            f.data = b.subspan(7, count);
            f.crc_ok = frame_crc8(b.subspan(1, 6 + count)) == b[7 + count];
            f.end = 8 + count;
            break;
        }
        case 0x22:
            f.filled = std::all_of(b.begin() + 2, b.end(), [](std::uint8_t x) { return x == 'A'; });
            f.end = b.size();
            break;
        default:
            break;
    }
}

}  // namespace

std::uint32_t le32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
           std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

// A byte at a time through a table of the eight-step division of every byte value.
std::uint8_t frame_crc8(std::span<const std::uint8_t> bytes) {
    static constexpr auto table = [] {
        std::array<std::uint8_t, 256> steps{};
        for (unsigned value = 0; value < 256; ++value) {
            auto crc = static_cast<std::uint8_t>(value);
            for (int bit = 0; bit < 8; ++bit) {
                crc = static_cast<std::uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
            }
            steps[value] = crc;
        }
        return steps;
    }();
    std::uint8_t crc = 0;
    for (std::uint8_t byte : bytes) {
        crc = table[crc ^ byte];
    }
    return crc;
}

request_fields decode_request(usb_mode mode, std::span<const std::uint8_t, 65> report) {
    request_fields fields;
    fields.report = report[0];
    fields.command = report[1];
    fields.argument = report[2];
    if (mode == usb_mode::application) {
        bridge_fields(report, fields);
    } else {
        bootloader_fields(report, fields);
    }
    return fields;
}

}  // namespace sim
