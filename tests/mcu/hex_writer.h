#pragma once

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

// Writes Intel HEX text for the tests, independently of the reader.
namespace ostrel::testing {

using bytes = std::vector<std::uint8_t>;

// One record line with its checksum, no line end.
inline std::string hex_line(std::uint8_t type, std::uint16_t offset, const bytes& data) {
    bytes fields{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
                 static_cast<std::uint8_t>(offset), type};
    fields.insert(fields.end(), data.begin(), data.end());
    fields.push_back(static_cast<std::uint8_t>(-std::accumulate(fields.begin(), fields.end(), 0)));
    std::string line = ":";
    for (const std::uint8_t b : fields) {
        line += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    }
    return line;
}

inline const std::string hex_eof = ":00000001FF";

// Data records for `data` at `address`, `per_line` bytes each, with an 04 record wherever
// the upper 16 address bits change; a record never crosses a 64 KiB boundary. No end record.
inline std::string hex_records(std::uint32_t address, const bytes& data,
                               std::size_t per_line = 16) {
    std::string text;
    std::uint32_t upper = 0;
    for (std::size_t at = 0; at < data.size();) {
        const auto here = static_cast<std::uint32_t>(address + at);
        if (here >> 16 != upper) {
            upper = here >> 16;
            text += hex_line(
                        4, 0,
                        {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)}) +
                    "\n";
        }
        const std::size_t n =
            std::min({per_line, data.size() - at, std::size_t{0x10000} - (here & 0xFFFF)});
        const auto first = data.begin() + static_cast<std::ptrdiff_t>(at);
        text += hex_line(0, static_cast<std::uint16_t>(here),
                         bytes(first, first + static_cast<std::ptrdiff_t>(n))) +
                "\n";
        at += n;
    }
    return text;
}

// A whole file: the records and the end-of-file record.
inline std::string hex_file(std::uint32_t address, const bytes& data, std::size_t per_line = 16) {
    return hex_records(address, data, per_line) + hex_eof + "\n";
}

inline bytes random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    bytes data(size);
    std::generate(data.begin(), data.end(), [&] { return static_cast<std::uint8_t>(generator()); });
    return data;
}

}  // namespace ostrel::testing
