#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "sim/model.h"

namespace sim {

// CRC-8 with polynomial 0x07, as the bootloader checks its frames.
std::uint8_t frame_crc8(std::span<const std::uint8_t> bytes);

// One line of `ostrel_sim log`: sequence number, mode, channel, command and its fields.
std::string describe_request(const request_record& record);

}  // namespace sim
