#pragma once

// The virtual Ostrel inside the test process, with a virtual clock that the program's
// waits and the device's replies move forward. Linked only into tests.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "sim/model.h"

namespace sim {

struct open_attempt {
    std::int64_t time_ns;
    std::uint16_t product_id;
    bool opened;
};

// Thrown into the program when it calls hidapi more often than a test allows: a loop that
// spins without a deadline fails its test instead of hanging it.
struct call_limit_reached : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class inprocess_device {
  public:
    // Replaces the devices with one fresh device; the clock starts at one second.
    static inprocess_device& reset(const device_options& options = {});
    // The first device, whose clock is every device's.
    static inprocess_device& current();
    // Puts one more device on USB, listed after those already there.
    static inprocess_device& add(const device_options& options);
    // Device `index` in the order they were set up (0: current()).
    static inprocess_device& at(std::size_t index);
    static std::size_t count();

    device_state& state() { return *state_; }
    std::int64_t now_ns() const { return now_ns_; }
    void advance_ns(std::int64_t ns) { now_ns_ += ns; }
    void advance_to_ns(std::int64_t time_ns);

    // Convenience for tests: arm a fault written in the rule syntax of `ostrel_sim fault`.
    void arm(const std::string& rule);

    std::vector<request_record> requests;
    std::vector<open_attempt> opens;
    // Calls of the hidapi stand-in that reached the device, and the most a test allows
    // (0: no limit). A program waits by reading its clock or by reads that wait, either of
    // which moves the virtual time on: calls without any time passing are a loop that
    // spins, limited by `stall_limit` (0: no limit).
    std::uint64_t hid_calls = 0;
    std::uint64_t hid_call_limit = 0;
    std::uint64_t stall_limit = 0;
    std::uint64_t calls_at_one_time = 0;
    std::int64_t last_call_ns = 0;

  private:
    std::unique_ptr<device_state> state_;
    std::int64_t now_ns_ = 1'000'000'000;
};

}  // namespace sim
