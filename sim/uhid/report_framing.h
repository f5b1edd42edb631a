#pragma once

#include <cstdint>
#include <span>

#include "sim/model.h"

// The kernel hands a uhid device each report the host wrote whole, the report-number byte
// first, where a USB device without numbered reports receives only the bytes after it.
// The device takes those bytes; the model is given the request as the host framed it
// (byte 0 the report number), exactly as the hidapi stand-in gives it.
namespace sim::uhid {

// The report's own bytes: what follows the report-number byte the kernel left in front.
std::span<const std::uint8_t> report_payload(std::span<const std::uint8_t> delivered);

// The request as the host framed it: `report_number`, then the payload (cut to 64 bytes,
// the rest zero).
request_bytes model_request(std::uint8_t report_number, std::span<const std::uint8_t> payload);

}  // namespace sim::uhid
