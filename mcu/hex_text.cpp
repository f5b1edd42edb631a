// The small text helpers of the HEX reader: blanks, hexadecimal digits, record checksums.
#include "mcu/hex_text.h"

#include "mcu/hex_reader.h"

namespace ostrel {

void trim_whitespace(std::string& text) {
    const std::string_view trimmed = trim_view(text);
    const auto begin = static_cast<std::size_t>(trimmed.data() - text.data());
    text.erase(begin + trimmed.size());
    text.erase(0, begin);
}

std::uint8_t hex_checksum(std::string_view digits) {
    // Non-digits count as 0; a lone last character is a pair of its own.
    const auto digit = [&](std::size_t i) {
        const int value = hex_digit_value(digits[i]);
        return static_cast<unsigned>(value < 0 ? 0 : value);
    };
    unsigned sum = 0;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        sum += i + 1 < digits.size() ? digit(i) * 16u + digit(i + 1) : digit(i);
    }
    return static_cast<std::uint8_t>(256u - (sum & 0xFFu));
}

bool verify_hex_line(std::string_view line) {
    if (line.size() < 3) {
        return false;
    }
    const int high = hex_digit_value(line[line.size() - 2]);
    const int low = hex_digit_value(line[line.size() - 1]);
    if (high < 0 || low < 0) {
        return false;
    }
    const std::string_view body = line.substr(1, line.size() - 3);
    return hex_checksum(body) == static_cast<std::uint8_t>(high * 16 + low);
}

std::string_view describe(hex_defect defect) {
    switch (defect) {
        case hex_defect::none:
            return "no defect";
        case hex_defect::cannot_open:
            return "could not open the file";
        case hex_defect::read_error:
            return "read error";
        case hex_defect::no_end_record:
            return "no end-of-file record";
        case hex_defect::line_too_long:
            return "line too long";
        case hex_defect::too_short:
            return "record too short";
        case hex_defect::not_hex:
            return "not a hexadecimal digit";
        case hex_defect::odd_digits:
            return "odd number of hexadecimal digits";
        case hex_defect::checksum_mismatch:
            return "checksum mismatch";
        case hex_defect::count_mismatch:
            return "byte count does not match the data";
        case hex_defect::bad_address_record:
            return "address record without two data bytes";
        case hex_defect::past_address_space:
            return "data past address 0xFFFFFFFF";
        case hex_defect::image_too_large:
            return "image larger than 1048576 bytes";
        case hex_defect::overlap:
            return "overlaps other data with different bytes";
    }
    return "unknown defect";
}

}  // namespace ostrel
