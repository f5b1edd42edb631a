#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include <hidapi.h>

#include "device/report.h"

// The wait for an application reply, inside device/: the other layers use
// device_link::app_command.
namespace ostrel {

// Polls `handle` with 1 ms reads until an input report whose byte 0 is one of `accepted`
// arrives, and returns the whole 65-byte buffer; nothing once more than `timeout_ms`
// whole milliseconds have passed. Byte 0 is tested before the first read, on a
// zero-filled buffer. Read errors do not end the wait; only the deadline does.
std::optional<hid_report> read_reply(hid_device* handle, std::span<const std::uint8_t> accepted,
                                     std::int64_t timeout_ms);

}  // namespace ostrel
