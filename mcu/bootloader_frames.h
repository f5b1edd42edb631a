#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "device/report.h"

// The requests of the bootloader: 65 bytes, report number 0x00 first, then the command,
// an argument byte, the address (least significant byte first), the data, and a CRC-8 over
// everything from the command on; zero padding to 65 bytes.
namespace ostrel {

// Bootloader commands.
inline constexpr std::uint8_t boot_data = 'D';
inline constexpr std::uint8_t boot_program = 'P';
inline constexpr std::uint8_t boot_erase = 'e';
inline constexpr std::uint8_t boot_fallback_erase = 0x22;
inline constexpr std::uint8_t boot_fallback_fill = 0x41;  // 'A', every byte after the command

// Erase modes of 'e'.
inline constexpr std::uint8_t erase_mode_tail = 0;
inline constexpr std::uint8_t erase_mode_16k = 1;
inline constexpr std::uint8_t erase_mode_sector = 2;

// Data bytes in one 'D' at most, and bytes in one programmed page.
inline constexpr std::size_t mcu_chunk_size = 32;
inline constexpr std::size_t mcu_page_size = 512;

// CRC-8/SMBUS: polynomial 0x07, initial value 0, most significant bit first, no reflection,
// no final exclusive-or.
std::uint8_t crc8(std::span<const std::uint8_t> bytes);

// 'D' for `address` with `data` (at most mcu_chunk_size bytes; its size is the length byte).
hid_report data_report(std::uint32_t address, std::span<const std::uint8_t> data);
// 'P' for the page at `address`.
hid_report program_report(std::uint32_t address);
// 'e' in `mode` at `address`.
hid_report erase_report(std::uint8_t mode, std::uint32_t address);
// The fallback erase: 0x22 and 63 bytes 'A', no address, no CRC; report number 0x00 like
// every other request.
hid_report fallback_erase_report();

}  // namespace ostrel
