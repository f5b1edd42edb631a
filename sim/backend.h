#pragma once

#include <cstdint>

#include "sim/model.h"

// What the hidapi stand-in needs from its surroundings. Two implementations: one keeps
// the device in a state file and uses the real clock (the shared library that replaces
// the system hidapi), the other keeps it in memory with a virtual clock (in-process tests).
namespace sim::backend {

// The device's state; null when no virtual device is set up.
device_state* state();
std::int64_t now_ns();
// Waits until `time_ns` (sleeps, or moves the virtual clock).
void wait_until_ns(std::int64_t time_ns);
// The same for a wait that ends when the device does something, e.g. a report arrives: the
// kernel wakes a reader on arrival, without the lateness it allows a time-out.
void wait_for_event_ns(std::int64_t time_ns);
void log_request(const request_record& record);
void note_open(std::uint16_t product_id, bool opened);

}  // namespace sim::backend
