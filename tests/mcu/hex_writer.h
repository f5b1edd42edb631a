#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <vector>

// Writes Intel HEX text for the tests, independently of the reader.
namespace ostrel::testing {

// One record line with its checksum, no line end.
inline std::string hex_line(std::uint8_t type, std::uint16_t offset,
                            std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()),
                                    static_cast<std::uint8_t>(offset >> 8),
                                    static_cast<std::uint8_t>(offset), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (const std::uint8_t b : bytes) {
        sum += b;
    }
    bytes.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    std::string line = ":";
    for (const std::uint8_t b : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", b);
        line += pair;
    }
    return line;
}

inline std::string hex_line(std::uint8_t type, std::uint16_t offset,
                            std::initializer_list<std::uint8_t> data) {
    return hex_line(type, offset, std::span<const std::uint8_t>(data.begin(), data.size()));
}

inline const std::string hex_eof = ":00000001FF";

// Data records for `data` at `address`, `per_line` bytes each, with an 04 record wherever
// the upper 16 address bits change. No end-of-file record.
inline std::string hex_records(std::uint32_t address, std::span<const std::uint8_t> data,
                               std::size_t per_line = 16) {
    std::string text;
    std::uint32_t upper = 0;
    for (std::size_t at = 0; at < data.size();) {
        const std::uint32_t here = address + static_cast<std::uint32_t>(at);
        if (here >> 16 != upper) {
            upper = here >> 16;
            text += hex_line(
                        4, 0,
                        {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)}) +
                    "\n";
        }
        // A record never crosses a 64 KiB boundary.
        const std::size_t room = 0x10000 - (here & 0xFFFF);
        const std::size_t n = std::min({per_line, data.size() - at, room});
        text += hex_line(0, static_cast<std::uint16_t>(here), data.subspan(at, n)) + "\n";
        at += n;
    }
    return text;
}

// A whole file: the records and the end-of-file record.
inline std::string hex_file(std::uint32_t address, std::span<const std::uint8_t> data,
                            std::size_t per_line = 16) {
    return hex_records(address, data, per_line) + hex_eof + "\n";
}

inline std::vector<std::uint8_t> random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

}  // namespace ostrel::testing
