// The lines of `ostrel_sim log`, from the decoded fields of each request.
#include "sim/request_log.h"

#include <cstdio>

#include "sim/request_decode.h"

namespace sim {
namespace {

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

// The confirmation word of an erase, a dot for each byte that is not printable.
std::string word(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
    }
    return text;
}

std::string application_fields(const request_fields& f) {
    switch (f.command) {
        case 'K':
            return format(" address=0x%05X length=0x%05X", f.address, f.length);
        case 'A':
            return format(" count=%u address=0x%05X data=", f.argument, f.address) + hex(f.data);
        case 'D':
            if (f.sector) {
                return format(" sector=0x%02X address=0x%05X word=", f.address >> 12, f.address) +
                       word(f.data);
            }
            return format(" block=%u address=0x%05X word=", f.argument, f.address) + word(f.data);
        default:
            return "";
    }
}

std::string bootloader_fields(const request_fields& f) {
    switch (f.command) {
        case 'D':
        case 'P':
        case 'e': {
            std::string fields;
            if (f.command == 'D') {
                fields = format(" count=%u", f.argument);
            } else if (f.command == 'e') {
                fields = format(" mode=%u", f.argument);
            }
            fields += format(" address=0x%06X crc=%s", f.address, f.crc_ok ? "ok" : "bad");
            if (!f.data.empty()) {
                fields += " data=" + hex(f.data);
            }
            return fields;
        }
        case 0x22:
            return f.filled ? " fill=ok" : " fill=bad";
        default:
            return "";
    }
}

}  // namespace

std::string describe_request(const request_record& record) {
    const request_fields f = decode_request(record.mode, record.bytes);
    std::string line = std::to_string(record.sequence) + ' ' + mode_name(record.mode) + ' ' +
                       (record.via == channel::feature ? "feature " : "output ") +
                       command_name(f.command);
    line += record.mode == usb_mode::application ? application_fields(f) : bootloader_fields(f);
    if (f.report != 0x00) {
        line += format(" report=0x%02X", f.report);
    }
    return line;
}

}  // namespace sim
