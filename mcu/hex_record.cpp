// One record line of an Intel HEX file into its bytes, each defect named.
#include "mcu/hex_record.h"

#include <algorithm>

#include "mcu/hex_text.h"

namespace ostrel {

hex_defect decode_record(std::string_view line, hex_record& record) {
    const std::string_view digits = line.substr(1);
    const std::size_t pairs = digits.size() / 2;
    // A line longer than any record is only checked for its characters.
    const std::size_t decoded = std::min(pairs, record.raw.size());
    unsigned bad = 0;  // hex_not_digit set when a character is no digit
    unsigned sum = 0;
    for (std::size_t i = 0; i < decoded; ++i) {
        const std::uint8_t high = hex_digit_table[static_cast<unsigned char>(digits[2 * i])];
        const std::uint8_t low = hex_digit_table[static_cast<unsigned char>(digits[2 * i + 1])];
        bad |= high | low;
        record.raw[i] = static_cast<std::uint8_t>(high << 4 | (low & 0x0F));
        sum += record.raw[i];
    }
    for (std::size_t i = 2 * decoded; i < digits.size(); ++i) {
        bad |= hex_digit_table[static_cast<unsigned char>(digits[i])];
    }
    if ((bad & hex_not_digit) != 0) {
        return hex_defect::not_hex;
    }
    if (pairs < hex_record_fixed_bytes) {
        return hex_defect::too_short;
    }
    if (digits.size() % 2 != 0) {
        return hex_defect::odd_digits;
    }
    if (pairs > record.raw.size()) {
        return hex_defect::count_mismatch;  // more than any byte count can announce
    }
    if ((sum & 0xFFu) != 0) {
        return hex_defect::checksum_mismatch;
    }
    if (record.raw[0] != pairs - hex_record_fixed_bytes) {
        return hex_defect::count_mismatch;
    }
    record.count = record.raw[0];
    record.offset = static_cast<std::uint16_t>(record.raw[1] << 8 | record.raw[2]);
    record.type = record.raw[3];
    return hex_defect::none;
}

}  // namespace ostrel
