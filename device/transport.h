#pragma once

#include <cstdint>
#include <span>

#include <hidapi.h>

// The two ways a request leaves the host: output reports (the bootloader) and feature
// reports (the application). Every request of the program goes out through one of them.
namespace ostrel {

// Sends `report` whole as an output report. False, sending nothing, when the handle is null
// or a stop has been requested (base/stop_request.h). The device's own answer to the
// write is not looked at: its reply says whether the request was taken.
bool send_output_report(hid_device* handle, std::span<const std::uint8_t> report);

// The same as a feature report.
bool send_feature_report(hid_device* handle, std::span<const std::uint8_t> report);

}  // namespace ostrel
