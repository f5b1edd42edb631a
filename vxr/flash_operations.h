#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "base/progress.h"
#include "device/device_link.h"
#include "vxr/flash_map.h"

// The bridge's flash operations, one application command each ('T', 'K', 'A', 'D') or a
// series of 'A' for a run of bytes, or of 'D' for the whole flash. Each sends nothing and fails
// when the application is not open; the erases also when the address is not aligned or has no
// sector or block number.
namespace ostrel::vxr {

// 'T': the bank status byte; nothing when the command is refused or no reply comes.
std::optional<std::uint8_t> query_bank_status(device_link& link);

// 'K': the 32-bit sum of the bytes of [address, address + length) of the bridge's flash;
// nothing on a refusal, a missing reply, or a reply whose byte 1 is not 4.
std::optional<std::uint32_t> query_flash_checksum(device_link& link, std::uint32_t address,
                                                  std::uint32_t length);

// One 'A' of 1 to 32 bytes.
bool write_flash_chunk(device_link& link, std::uint32_t address,
                       std::span<const std::uint8_t> data);

// 'A' requests of up to 32 bytes from `start` on, `progress` after each with the fraction
// written, false at the first one not acknowledged. Allocates nothing.
bool write_flash_bytes(device_link& link, std::uint32_t start, std::span<const std::uint8_t> data,
                       const progress_callback& progress);

// Zeroes the first and last byte of the trailer of `bank` (0 or 1) of `region`, which
// makes the bridge take it for invalid. False for the esm region, which has no trailer.
bool invalidate_bank(device_link& link, const flash_region& region, std::size_t bank);

// 'D' for the 4 KiB sector or the 64 KiB block at `address`.
bool erase_flash_sector(device_link& link, std::uint32_t address);
bool erase_flash_block(device_link& link, std::uint32_t address);

// 'D' for each 64 KiB block of the flash from block 0 on, up to the first that is not
// acknowledged; once a stop is requested no more is sent. The number of blocks erased:
// flash_blocks when the whole flash is.
std::uint32_t erase_whole_flash(device_link& link);

// The wrap-around 32-bit sum of the bytes of [first, last), as 'K' gives it for a flash
// range; 0 for an empty range.
std::uint32_t sum_bytes(const std::uint8_t* first, const std::uint8_t* last);

}  // namespace ostrel::vxr
