#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "sim/hex_image.h"

// Intel HEX text for the tests, written independently of the program's reader (by the
// virtual device's writer), and random contents.
namespace ostrel::testing {

using bytes = std::vector<std::uint8_t>;
using sim::hex_eof;
using sim::hex_file;
using sim::hex_line;
using sim::hex_records;

inline bytes random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    bytes data(size);
    std::generate(data.begin(), data.end(), [&] { return static_cast<std::uint8_t>(generator()); });
    return data;
}

}  // namespace ostrel::testing
