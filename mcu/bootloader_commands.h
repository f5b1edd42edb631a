#pragma once

#include <cstdint>
#include <span>

#include "device/device_link.h"

// The bootloader's commands over the link's bootloader channel. Each checks that the
// bootloader is open and that its address is aligned, and sends nothing otherwise; none
// retries anything.
namespace ostrel {

// One 'D' of 1 to 32 bytes at a multiple of 32. Whatever report is first in the queue,
// perhaps an earlier chunk's, is read without waiting; a chunk whose reply has not come
// yet counts as accepted.
bool mcu_write_chunk(device_link& link, std::uint32_t address, std::span<const std::uint8_t> data);
// Up to 512 bytes at a page boundary as 'D' chunks, the drain of their replies, then 'P'.
bool mcu_write_page(device_link& link, std::uint32_t address, std::span<const std::uint8_t> data);
// 'e' in its three modes: the whole sector that holds `address`, exactly 16 KiB, or 16 KiB
// stopping at the end of the sector.
bool mcu_erase_sector(device_link& link, std::uint32_t address);
bool mcu_erase_16k(device_link& link, std::uint32_t address);
bool mcu_erase_tail(device_link& link, std::uint32_t address);
// The fallback erase of the whole application area, answered within 10 s.
bool mcu_fallback_erase(device_link& link);

}  // namespace ostrel
