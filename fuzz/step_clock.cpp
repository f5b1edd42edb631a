// The program's clock in the device fuzz targets: virtual time that the virtual device's
// waits move on, as in the in-process tests, but every reading moves it by 250 us instead
// of 1 us. A command to a device that has left polls until its 1000 ms deadline; at 1 us a
// reading that takes a million polls, which would make such runs cost more than the rest.
#include "device/clock.h"
#include "sim/inprocess_device.h"

namespace ostrel {

std::int64_t monotonic_ns() {
    auto& device = sim::inprocess_device::current();
    device.advance_ns(250'000);
    return device.now_ns();
}

void sleep_ms(std::int64_t ms) {
    sim::inprocess_device::current().advance_ns(ms * 1'000'000);
}

}  // namespace ostrel
