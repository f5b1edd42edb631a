#pragma once

#include <cstdint>
#include <optional>

#include <hidapi.h>

// The bridge's two queries, telling a failed query apart from a real answer. The
// bootloader_thread operations read_bank_status and read_flash_checksum give 0 for both;
// the update needs to know which it was.
namespace ostrel::vxr {

// 'T': the bank status byte; nothing when the handle is null, the command is refused or
// no reply comes.
std::optional<std::uint8_t> query_bank_status(hid_device* app_handle);

// 'K': the 32-bit sum of the bytes of [address, address + length) of the bridge's flash;
// nothing on a refusal, a missing reply, or a reply whose byte 1 is not 4.
std::optional<std::uint32_t> query_flash_checksum(hid_device* app_handle, std::uint32_t address,
                                                  std::uint32_t length);

}  // namespace ostrel::vxr
