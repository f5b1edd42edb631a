#include "mcu/hex_record.h"

#include <algorithm>

#include "mcu/hex_text.h"

namespace ostrel {
namespace {

// Byte count, two offset bytes, type and checksum.
constexpr std::size_t fixed_bytes = 5;

}  // namespace

hex_defect decode_record(std::string_view line, hex_record& record) {
    const std::string_view digits = line.substr(1);
    const std::size_t pairs = digits.size() / 2;
    std::array<std::uint8_t, fixed_bytes + 255> raw{};
    unsigned sum = 0;
    unsigned not_digit = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint8_t high = hex_digit_table[static_cast<unsigned char>(digits[2 * i])];
        const std::uint8_t low = hex_digit_table[static_cast<unsigned char>(digits[2 * i + 1])];
        not_digit |= high | low;
        const auto value = static_cast<std::uint8_t>(high << 4 | (low & 0x0F));
        sum += value;
        if (i < raw.size()) {
            raw[i] = value;
        }
    }
    if (digits.size() % 2 != 0) {
        not_digit |= hex_digit_table[static_cast<unsigned char>(digits.back())];
    }
    if ((not_digit & hex_not_digit) != 0) {
        return hex_defect::not_hex;
    }
    if (pairs < fixed_bytes) {
        return hex_defect::too_short;
    }
    if (digits.size() % 2 != 0) {
        return hex_defect::odd_digits;
    }
    if (pairs > raw.size()) {
        return hex_defect::count_mismatch;  // more than any byte count can announce
    }
    if ((sum & 0xFFu) != 0) {
        return hex_defect::checksum_mismatch;
    }
    if (raw[0] != pairs - fixed_bytes) {
        return hex_defect::count_mismatch;
    }
    record.count = raw[0];
    record.offset = static_cast<std::uint16_t>(raw[1] << 8 | raw[2]);
    record.type = raw[3];
    std::copy_n(raw.begin() + 4, record.count, record.bytes.begin());
    return hex_defect::none;
}

}  // namespace ostrel
