#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include <hidapi.h>

#include "device/progress.h"

// The bridge's two queries, telling a failed query apart from a real answer (the
// bootloader_thread operations read_bank_status and read_flash_checksum give 0 for both;
// the update needs to know which it was), and region writes straight from the image.
namespace ostrel::vxr {

// 'T': the bank status byte; nothing when the handle is null, the command is refused or
// no reply comes.
std::optional<std::uint8_t> query_bank_status(hid_device* app_handle);

// 'K': the 32-bit sum of the bytes of [address, address + length) of the bridge's flash;
// nothing on a refusal, a missing reply, or a reply whose byte 1 is not 4.
std::optional<std::uint32_t> query_flash_checksum(hid_device* app_handle, std::uint32_t address,
                                                  std::uint32_t length);

// What bootloader_thread::write_flash_region does, for any run of bytes: 'A' requests of
// up to 32 bytes from `start` on, `progress` after each, false at the first one not
// acknowledged. Allocates nothing.
bool write_flash_bytes(hid_device* app_handle, std::uint32_t start,
                       std::span<const std::uint8_t> data, const progress_callback& progress);

}  // namespace ostrel::vxr
