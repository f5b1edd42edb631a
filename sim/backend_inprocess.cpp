// The backend of the in-process tests: the device in memory, time on a virtual clock.
#include <unistd.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/backend.h"
#include "sim/inprocess_device.h"

namespace sim {
namespace {

std::vector<std::unique_ptr<inprocess_device>>& devices() {
    static std::vector<std::unique_ptr<inprocess_device>> list;
    return list;
}

}  // namespace

inprocess_device& inprocess_device::reset(const device_options& options) {
    devices().clear();
    return add(options);
}

inprocess_device& inprocess_device::add(const device_options& options) {
    auto device = std::make_unique<inprocess_device>();
    device->state_ = std::make_unique<device_state>();
    init_state(*device->state_, options);
    devices().push_back(std::move(device));
    return *devices().back();
}

inprocess_device& inprocess_device::current() {
    if (devices().empty()) {
        reset();
    }
    return *devices().front();
}

inprocess_device& inprocess_device::at(std::size_t index) {
    return index == 0 ? current() : *devices().at(index);
}

std::size_t inprocess_device::count() {
    return devices().empty() ? 1 : devices().size();
}

void inprocess_device::advance_to_ns(std::int64_t time_ns) {
    if (time_ns > now_ns_) {
        now_ns_ = time_ns;
    }
}

void inprocess_device::arm(const std::string& rule) {
    std::string error;
    const auto parsed = parse_fault_rule(rule, error);
    if (!parsed || !arm_fault(state(), *parsed)) {
        throw std::invalid_argument("bad fault rule in a test: " + rule + ": " + error);
    }
}

namespace backend {

std::size_t device_count() {
    return inprocess_device::count();
}

// Counts the call against the limits of the first device, whose clock serves all.
device_state* state(std::size_t index) {
    if (index >= inprocess_device::count()) {
        return nullptr;
    }
    auto& device = inprocess_device::current();
    if (++device.hid_calls > device.hid_call_limit && device.hid_call_limit != 0) {
        throw call_limit_reached("more than " + std::to_string(device.hid_call_limit) +
                                 " hidapi calls");
    }
    if (device.now_ns() != device.last_call_ns) {
        device.last_call_ns = device.now_ns();
        device.calls_at_one_time = 0;
    } else if (++device.calls_at_one_time > device.stall_limit && device.stall_limit != 0) {
        throw call_limit_reached("more than " + std::to_string(device.stall_limit) +
                                 " hidapi calls while no time passed");
    }
    return &inprocess_device::at(index).state();
}

// One process: nothing to hold a device against.
void lock(std::size_t /*index*/) {}
void unlock(std::size_t /*index*/) {}

std::string device_path(std::size_t index) {
    const std::string port = usb_port(inprocess_device::at(index).state());
    if (!port.empty()) {
        return port + ":1.0";
    }
    return "virtual:ostrel:inprocess:" + std::to_string(getpid()) +
           (index == 0 ? "" : ":" + std::to_string(index));
}

std::int64_t now_ns() {
    return inprocess_device::current().now_ns();
}

void wait_until_ns(std::int64_t time_ns) {
    inprocess_device::current().advance_to_ns(time_ns);
}

void wait_for_event_ns(std::int64_t time_ns) {
    wait_until_ns(time_ns);
}

void log_request(const request_record& record, std::size_t index) {
    inprocess_device::at(index).requests.push_back(record);
}

void note_open(std::uint16_t product_id, bool opened, std::size_t index) {
    auto& device = inprocess_device::at(index);
    device.opens.push_back({now_ns(), product_id, opened});
}

}  // namespace backend
}  // namespace sim
