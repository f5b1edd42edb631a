#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include <hidapi.h>

#include "device/report.h"

// The application firmware's command channel: requests go out as feature reports on the
// application handle, replies come back as input reports.
namespace ostrel {

// Reply codes of the application firmware.
inline constexpr std::uint8_t reply_ack = '$';      // a flash-changing command was done
inline constexpr std::uint8_t reply_refused = 'E';  // the firmware refused the command

// How long a command waits for its reply.
inline constexpr std::int64_t command_timeout_ms = 1000;

// The word every erase request carries; the firmware erases nothing without it.
inline constexpr char erase_confirmation[] = "KQWIPEZON";
inline constexpr std::size_t erase_confirmation_length = sizeof(erase_confirmation) - 1;

// Largest number of data bytes in one 'A' request.
inline constexpr std::size_t max_write_chunk = 32;

// Polls `handle` with 1 ms reads until an input report whose byte 0 is one of `accepted`
// arrives, and returns the whole 65-byte buffer; nothing once more than `timeout_ms`
// whole milliseconds have passed. Byte 0 is tested before the first read, on a
// zero-filled buffer. Read errors do not end the wait; only the deadline does.
std::optional<hid_report> read_reply(hid_device* handle, std::span<const std::uint8_t> accepted,
                                     std::int64_t timeout_ms);

// Request builders: 65 bytes, report number 0x00, unused bytes 0x00.
hid_report build_bank_status_request();                                          // 'T'
hid_report build_checksum_request(std::uint32_t address, std::uint32_t length);  // 'K'
// 'A' with 1 to 32 data bytes; the caller checks the count.
hid_report build_write_request(std::uint32_t address, std::span<const std::uint8_t> data);
hid_report build_sector_erase_request(std::uint32_t address);  // 'D', 4 KiB sector form
hid_report build_block_erase_request(std::uint32_t address);   // 'D', 64 KiB block form

// Sends `request` on `handle` and waits for `expected` or a refusal. Gives the reply
// only when its code is `expected`; nothing on a refusal, a time-out or a null handle.
std::optional<hid_report> send_app_command(hid_device* handle, const hid_report& request,
                                           std::uint8_t expected);

}  // namespace ostrel
