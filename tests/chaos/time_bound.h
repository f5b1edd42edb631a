#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/inprocess_device.h"

// How long the program may take for what it did, from the device's record of a run.
namespace chaos_test {

// The sum of the limits the program waits under for the requests it sent (a
// command's reply, a version read, the bootloader's 'P', 'e' and fallback erase), plus the
// 250 ms pause before each attempt to open the device and a few milliseconds per request
// for the polling reads.
std::int64_t time_bound_ns(const std::vector<sim::request_record>& requests,
                           const std::vector<sim::open_attempt>& opens);

// What is wrong with the program's waits for the device to come back: a wait, a run of
// attempts to open one identity with nothing sent between them, that went on for more
// than 15 s (plus the one pause before its first attempt). Empty when nothing is.
std::string wait_error(const std::vector<sim::request_record>& requests,
                       const std::vector<sim::open_attempt>& opens);

}  // namespace chaos_test
