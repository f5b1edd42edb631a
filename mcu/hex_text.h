#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// Character helpers shared by the parts of the HEX reader.
namespace ostrel {

// Space, tab, line feed, vertical tab, form feed or carriage return.
inline bool is_hex_blank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
// The value of each character as a hexadecimal digit, hex_not_digit when it is none.
inline constexpr std::uint8_t hex_not_digit = 0x10;
inline constexpr std::array<std::uint8_t, 256> hex_digit_table = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(hex_not_digit);
    for (int i = 0; i < 10; ++i) {
        table['0' + i] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        table['A' + i] = static_cast<std::uint8_t>(10 + i);
        table['a' + i] = static_cast<std::uint8_t>(10 + i);
    }
    return table;
}();

// `text` without its leading and trailing blanks.
inline std::string_view trim_view(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_hex_blank(text[begin])) {
        ++begin;
    }
    while (end > begin && is_hex_blank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

}  // namespace ostrel
