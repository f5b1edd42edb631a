#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "device/report.h"

// The application's commands that reach the bridge's flash: 65 bytes, report number 0x00,
// the command in byte 1, unused bytes 0x00.
namespace ostrel::vxr {

// The word every erase request carries; the firmware erases nothing without it.
inline constexpr char erase_confirmation[] = "KQWIPEZON";
inline constexpr std::size_t erase_confirmation_length = sizeof(erase_confirmation) - 1;

// Largest number of data bytes in one 'A' request.
inline constexpr std::size_t max_write_chunk = 32;

hid_report build_bank_status_request();                                          // 'T'
hid_report build_checksum_request(std::uint32_t address, std::uint32_t length);  // 'K'
// 'A' with 1 to 32 data bytes; the caller checks the count.
hid_report build_write_request(std::uint32_t address, std::span<const std::uint8_t> data);
hid_report build_sector_erase_request(std::uint32_t address);  // 'D', 4 KiB sector form
hid_report build_block_erase_request(std::uint32_t address);   // 'D', 64 KiB block form

}  // namespace ostrel::vxr
