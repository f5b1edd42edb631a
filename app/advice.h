#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/file_access.h"
#include "device/device_link.h"

// The lines that follow a failure on standard error: why it happened, where the device
// stands now, and what to do next.
namespace ostrel {

struct mcu_load_report;
namespace vxr {
struct update_report;
}

// After a failed connection or wait, from what it tells: the device is missing (with the
// USB ids looked for), waits in its bootloader, cannot be opened, did not come back after a
// mode switch, or the wait was interrupted.
std::string connection_advice(const connection& result);

// After a file that could not be opened or read: its name and why, as the reader found it.
std::string file_advice(const std::string& path, const input_failure& failure);

// The three below: `interrupted`, the job was cut short by a stop request (a signal) rather
// than by the device.

// After a failed or interrupted load: how far it got and the state it left the device in.
std::string load_advice(const mcu_load_report& report, bool interrupted);

// After -x stopped at `block`: which blocks of the bridge's flash are erased.
std::string erase_advice(std::uint32_t block, bool interrupted);

// After a failed or interrupted bridge update: what the bridge starts from now.
std::string update_advice(const vxr::update_report& report, bool interrupted);

}  // namespace ostrel
