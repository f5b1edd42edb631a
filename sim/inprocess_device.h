#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/model.h"

// The virtual Ostrel inside the test process, with a virtual clock that the program's
// waits and the device's replies move forward. Linked only into tests.
namespace sim {

struct open_attempt {
    std::int64_t time_ns;
    std::uint16_t product_id;
    bool opened;
};

class inprocess_device {
  public:
    // Replaces the device with a fresh one; the clock starts at one second.
    static inprocess_device& reset(const device_options& options = {});
    static inprocess_device& current();

    device_state& state() { return *state_; }
    std::int64_t now_ns() const { return now_ns_; }
    void advance_ns(std::int64_t ns) { now_ns_ += ns; }
    void advance_to_ns(std::int64_t time_ns);
    double now_ms() const { return static_cast<double>(now_ns_) / 1e6; }

    // Convenience for tests: arm a fault written in the rule syntax of `ostrel_sim fault`.
    void arm(const std::string& rule);

    std::vector<request_record> requests;
    std::vector<open_attempt> opens;

  private:
    std::unique_ptr<device_state> state_;
    std::int64_t now_ns_ = 1'000'000'000;
};

}  // namespace sim
