// ostrel_uhid DIR: presents the virtual Ostrel kept in DIR (made by `ostrel_sim init`) to
// the kernel as a HID device through /dev/uhid, so that programs reach it through the
// kernel's hidraw driver and the system's hidapi. Runs until SIGTERM or SIGINT; the device
// leaves when it stops. `ostrel_sim show/log/dump/fault/plug/unplug` work on DIR meanwhile;
// after `ostrel_sim init` on DIR it must be started again.
#include <sched.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>

#include "sim/backend.h"
#include "sim/state_file.h"
#include "sim/uhid/front_end.h"
#include "sim/uhid/uhid_link.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void request_stop(int /*signal*/) {
    stop_requested = 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: ostrel_uhid DIR\n";
        return 2;
    }
    char absolute[PATH_MAX];
    std::string error;
    sim::state_file probe;
    if (realpath(argv[1], absolute) == nullptr || !probe.open(absolute, error)) {
        std::cerr << "ostrel_uhid: "
                  << (error.empty() ? std::string("no directory ") + argv[1] : error) << "\n";
        return 1;
    }
    // The state and the request log are reached as the hidapi stand-in reaches them.
    setenv("OSTREL_SIM_DIR", absolute, 1);
    sim::device_state* state = sim::backend::state();
    sim::uhid::uhid_link link;
    if (state == nullptr || !link.open(error)) {
        std::cerr << "ostrel_uhid: " << (error.empty() ? "cannot map the device state" : error)
                  << "\n";
        return 1;
    }
    // A USB device does not wait for the host's processor. Where allowed, the device runs
    // before the host's programs, so that the kernel's uhid queue never fills.
    const sched_param priority{sched_get_priority_min(SCHED_FIFO)};
    sched_setscheduler(0, SCHED_FIFO, &priority);
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sim::uhid::front_end(*state, link).run(stop_requested);
    return 0;
}
