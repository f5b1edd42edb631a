// The program's clock in the test build: the in-process device's virtual time. Every
// reading moves it on by one microsecond, the cost of the work between two readings, so
// that a loop that only watches the clock still reaches its deadline.
#include "base/clock.h"
#include "sim/inprocess_device.h"

namespace ostrel {

std::int64_t monotonic_ns() {
    auto& device = sim::inprocess_device::current();
    device.advance_ns(1000);
    return device.now_ns();
}

void sleep_ms(std::int64_t ms) {
    sim::inprocess_device::current().advance_ns(ms * 1'000'000);
}

}  // namespace ostrel
