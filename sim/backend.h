#pragma once

#include <cstdint>
#include <string>

#include "sim/model.h"

// What the hidapi stand-in needs from its surroundings. Two implementations: one keeps
// the device in a state file and uses the real clock (the shared library that replaces
// the system hidapi), the other keeps it in memory with a virtual clock (in-process tests).
namespace sim::backend {

// The device's state; null when no virtual device is set up.
device_state* state();
// Holds the device for one call of the stand-in: a device in a state file takes the calls
// of every process that shares it one at a time (the in-process device has no other). Never
// held while a call waits. unlock() lets go, then sends the signal a `kill` fault asked for.
void lock();
void unlock();
// lock() for the length of a scope.
class device_hold {
  public:
    device_hold() { lock(); }
    ~device_hold() { unlock(); }
    device_hold(const device_hold&) = delete;
    device_hold& operator=(const device_hold&) = delete;
};
// hid_device_info::path: tells this device from any other, and stays through mode switches.
std::string device_path();
std::int64_t now_ns();
// Waits until `time_ns` (sleeps, or moves the virtual clock).
void wait_until_ns(std::int64_t time_ns);
// The same for a wait that ends when the device does something, e.g. a report arrives: the
// kernel wakes a reader on arrival, without the lateness it allows a time-out.
void wait_for_event_ns(std::int64_t time_ns);
void log_request(const request_record& record);
void note_open(std::uint16_t product_id, bool opened);

}  // namespace sim::backend
