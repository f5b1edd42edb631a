#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes an image back as plain Intel HEX text, with the tests' writer, which shares no code
// with the reader. Built without coverage feedback: the fuzzer is to explore the reader.
namespace ostrel::fuzz {

std::string hex_text_of(std::uint32_t base_address, const std::vector<std::uint8_t>& data);

}  // namespace ostrel::fuzz
