#include "sim/request_log.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

std::uint32_t u32_at(const request_bytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::string hex(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::string format(const char* pattern, auto... values) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

std::string command_name(std::uint8_t command) {
    if (command > 0x20 && command < 0x7F) {
        return std::string(1, static_cast<char>(command));
    }
    return format("0x%02X", command);
}

std::string word_at(const request_bytes& bytes, std::size_t at) {
    std::string word;
    for (std::size_t i = at; i < at + 9; ++i) {
        word += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? static_cast<char>(bytes[i]) : '.';
    }
    return word;
}

std::string application_fields(const request_bytes& b) {
    switch (b[1]) {
        case 'K':
            return format(" address=0x%05X length=0x%05X", u32_at(b, 2), u32_at(b, 6));
        case 'A': {
            const std::size_t count = std::min<std::size_t>(b[2], 57);
            return format(" count=%u address=0x%05X data=", b[2], u32_at(b, 3)) +
                   hex({b.data() + 7, count});
        }
        case 'D':
            if (b[2] == 0x80) {
                return format(" sector=0x%02X address=0x%05X word=", b[3], b[3] * 0x1000u) +
                       word_at(b, 4);
            }
            return format(" block=%u address=0x%05X word=", b[2], b[2] * 0x10000u) + word_at(b, 4);
        default:
            return "";
    }
}

std::string bootloader_fields(const request_bytes& b) {
    switch (b[1]) {
        case 'D':
        case 'P':
        case 'e': {
            const std::size_t count = b[1] == 'D' ? std::min<std::size_t>(b[2], 57) : 0;
            const bool crc_ok = frame_crc8({b.data() + 1, 6 + count}) == b[7 + count];
            std::string fields;
            if (b[1] == 'D') {
                fields = format(" count=%u", b[2]);
            } else if (b[1] == 'e') {
                fields = format(" mode=%u", b[2]);
            }
            fields += format(" address=0x%06X crc=%s", u32_at(b, 3), crc_ok ? "ok" : "bad");
            if (count > 0) {
                fields += " data=" + hex({b.data() + 7, count});
            }
            return fields;
        }
        case 0x22: {
            bool filled = true;
            for (std::size_t i = 2; i < b.size(); ++i) {
                filled = filled && b[i] == 0x41;
            }
            return filled ? " fill=ok" : " fill=bad";
        }
        default:
            return "";
    }
}

}  // namespace

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

std::string describe_request(const request_record& record) {
    const request_bytes& b = record.bytes;
    std::string line = std::to_string(record.sequence) + ' ' + mode_name(record.mode) + ' ' +
                       (record.via == channel::feature ? "feature " : "output ") +
                       command_name(b[1]);
    line += record.mode == usb_mode::application ? application_fields(b) : bootloader_fields(b);
    if (b[0] != 0x00) {
        line += format(" report=0x%02X", b[0]);
    }
    return line;
}

}  // namespace sim
