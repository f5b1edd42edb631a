#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "mcu/hex_reader.h"

// One record line of an Intel HEX file taken apart.
namespace ostrel {

enum class hex_record_type : std::uint8_t {
    data = 0x00,
    end_of_file = 0x01,
    extended_segment_address = 0x02,
    start_segment_address = 0x03,
    extended_linear_address = 0x04,
    start_linear_address = 0x05,
};

// Byte count, two offset bytes, type and checksum.
inline constexpr std::size_t hex_record_fixed_bytes = 5;
// The most bytes a record can announce, and so the most a line can usefully carry.
inline constexpr std::size_t hex_record_max_bytes = hex_record_fixed_bytes + 255;

struct hex_record {
    std::uint8_t type = 0;
    std::uint16_t offset = 0;  // load offset
    std::uint8_t count = 0;    // data bytes
    // The record's bytes as on the line: count, offset, type, data, checksum. Only the first
    // count + 5 are meaningful.
    std::array<std::uint8_t, hex_record_max_bytes> raw;

    std::span<const std::uint8_t> data() const { return {raw.data() + 4, count}; }
};

// Takes apart a trimmed line that starts with ':'. A record is valid when it holds only
// hexadecimal digits, an even number of them, at least its fixed fields, a byte count that
// matches the data on the line, and a checksum that matches the rest.
hex_defect decode_record(std::string_view line, hex_record& record);

}  // namespace ostrel
