// The backend of the in-process tests: the device in memory, time on a virtual clock.
#include <unistd.h>

#include <limits>
#include <stdexcept>
#include <string>

#include "sim/backend.h"
#include "sim/inprocess_device.h"

namespace sim {
namespace {

std::unique_ptr<inprocess_device>& slot() {
    static std::unique_ptr<inprocess_device> device;
    return device;
}

}  // namespace

inprocess_device& inprocess_device::reset(const device_options& options) {
    auto device = std::make_unique<inprocess_device>();
    device->state_ = std::make_unique<device_state>();
    init_state(*device->state_, options);
    slot() = std::move(device);
    return *slot();
}

inprocess_device& inprocess_device::current() {
    if (!slot()) {
        reset();
    }
    return *slot();
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

device_state* state() {
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
    return &device.state();
}

// One process, one device: nothing to hold it against.
void lock() {}
void unlock() {}

std::string device_path() {
    return "virtual:ostrel:inprocess:" + std::to_string(getpid());
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

void log_request(const request_record& record) {
    inprocess_device::current().requests.push_back(record);
}

void note_open(std::uint16_t product_id, bool opened) {
    auto& device = inprocess_device::current();
    device.opens.push_back({device.now_ns(), product_id, opened});
}

}  // namespace backend
}  // namespace sim
