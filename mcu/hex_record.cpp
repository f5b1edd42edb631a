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
    if (!std::all_of(digits.begin(), digits.end(),
                     [](char c) { return hex_digit_value(c) >= 0; })) {
        return hex_defect::not_hex;
    }
    if (digits.size() < 2 * fixed_bytes) {
        return hex_defect::too_short;
    }
    if (digits.size() % 2 != 0) {
        return hex_defect::odd_digits;
    }
    const std::size_t size = digits.size() / 2;
    if (size > fixed_bytes + record.bytes.size()) {
        return hex_defect::count_mismatch;  // more than any byte count can announce
    }
    std::array<std::uint8_t, fixed_bytes + 255> raw{};
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) {
        raw[i] = static_cast<std::uint8_t>(hex_digit_value(digits[2 * i]) * 16 +
                                           hex_digit_value(digits[2 * i + 1]));
        sum += raw[i];
    }
    if ((sum & 0xFFu) != 0) {
        return hex_defect::checksum_mismatch;
    }
    if (raw[0] != size - fixed_bytes) {
        return hex_defect::count_mismatch;
    }
    record.count = raw[0];
    record.offset = static_cast<std::uint16_t>(raw[1] << 8 | raw[2]);
    record.type = raw[3];
    std::copy_n(raw.begin() + 4, record.count, record.bytes.begin());
    return hex_defect::none;
}

}  // namespace ostrel
