#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Report framing shared by both device modes: every request is 65 bytes, byte 0 the
// report number (0x00, the device uses no numbered reports), byte 1 the command
// character, bytes 2 to 64 the command's parameters. Replies are read into 65 bytes.
namespace ostrel {

using byte_vector = std::vector<std::uint8_t>;

inline constexpr std::size_t report_size = 65;
using hid_report = std::array<std::uint8_t, report_size>;

// USB identity of the device. The vendor id is the maker's, fixed at build time.
inline constexpr unsigned short device_vendor_id = OSTREL_VENDOR_ID;
inline constexpr unsigned short app_product_id = 0x0101;
inline constexpr unsigned short bootloader_product_id = 0x4004;

// A request of zeros carrying `command` in byte 1.
hid_report make_request(std::uint8_t command);

void put_u32_le(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value);
std::uint32_t get_u32_le(std::span<const std::uint8_t> bytes, std::size_t at);

}  // namespace ostrel
