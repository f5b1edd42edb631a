#pragma once

#include <string_view>

// Character helpers shared by the parts of the HEX reader.
namespace ostrel {

// Space, tab, line feed, vertical tab, form feed or carriage return.
bool is_hex_blank(char c);
// 0 to 15 for a hexadecimal digit of either case, -1 for anything else.
int hex_digit_value(char c);
// `text` without its leading and trailing blanks.
std::string_view trim_view(std::string_view text);

}  // namespace ostrel
