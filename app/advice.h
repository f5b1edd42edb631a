#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "base/file_access.h"
#include "device/device_link.h"

// The lines that follow a failure on standard error: why it happened, where the device
// stands now, and what to do next.
namespace ostrel {

struct mcu_load_report;
struct vxr_update_report;

// After a failed connection to the identities `wanted`: the USB ids looked for and, from
// what the system lists, whether the device is missing, waits in its bootloader, cannot be
// opened, or did not come back after a mode switch.
std::string connection_advice(const device_link& device,
                              std::initializer_list<unsigned short> wanted);

// After a file that could not be opened or read: its name and why, as the reader found it.
std::string file_advice(const std::string& path, const input_failure& failure);

// After a failed or interrupted load: how far it got and the state it left the device in.
std::string load_advice(const mcu_load_report& report);

// After -x stopped at `block`: which blocks of the bridge's flash are erased.
std::string erase_advice(std::uint32_t block);

// After a failed or interrupted bridge update: what the bridge starts from now.
std::string update_advice(const vxr_update_report& report);

}  // namespace ostrel
