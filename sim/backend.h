#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/model.h"

// What the hidapi stand-in needs from its surroundings. Two implementations: one keeps
// the device in a state file and uses the real clock (the shared library that replaces
// the system hidapi), the other keeps it in memory with a virtual clock (in-process tests).
namespace sim::backend {

// The devices on the virtual USB, in the order they were set up; 0 when none is.
std::size_t device_count();
// The state of device `index`; null when there is no such device.
device_state* state(std::size_t index = 0);
// Holds device `index` for one call of the stand-in: a device in a state file takes the calls
// of every process that shares it one at a time (the in-process device has no other). Never
// held while a call waits. unlock() lets go, then sends the signal a `kill` fault asked for.
void lock(std::size_t index = 0);
void unlock(std::size_t index = 0);
// lock() for the length of a scope.
class device_hold {
  public:
    explicit device_hold(std::size_t index = 0) : index_(index) { lock(index_); }
    ~device_hold() { unlock(index_); }
    device_hold(const device_hold&) = delete;
    device_hold& operator=(const device_hold&) = delete;

  private:
    std::size_t index_;
};
// hid_device_info::path of device `index`: tells it from any other, and stays through mode
// switches. A device with a USB port has the path hidapi's libusb backend would give it
// (the port, then ":1.0"); one without has a virtual path of its own.
std::string device_path(std::size_t index = 0);
std::int64_t now_ns();
// Waits until `time_ns` (sleeps, or moves the virtual clock).
void wait_until_ns(std::int64_t time_ns);
// The same for a wait that ends when the device does something, e.g. a report arrives: the
// kernel wakes a reader on arrival, without the lateness it allows a time-out.
void wait_for_event_ns(std::int64_t time_ns);
void log_request(const request_record& record, std::size_t index = 0);
void note_open(std::uint16_t product_id, bool opened, std::size_t index = 0);

}  // namespace sim::backend
