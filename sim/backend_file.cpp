// The backend of the shared library that replaces the system hidapi: the device lives in
// the state file of the directory named by OSTREL_SIM_DIR (set by `ostrel_sim run`), and
// time is the real monotonic clock. A `kill` fault ends the program here with SIGKILL.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "sim/backend.h"
#include "sim/state_file.h"

namespace sim::backend {
namespace {

struct file_device {
    state_file file;
    int log_fd = -1;
    bool ready = false;
    // OSTREL_SIM_EXACT_WAITS=1: every wait ends when it is due, by watching the clock for its
    // last stretch instead of sleeping, so that a measurement can leave out how late the
    // system wakes a sleeper. Replies and time-outs come at the same times as otherwise.
    bool exact_waits = false;

    file_device() {
        const char* exact = std::getenv("OSTREL_SIM_EXACT_WAITS");
        exact_waits = exact != nullptr && *exact != '\0' && std::string(exact) != "0";
        const char* dir = std::getenv("OSTREL_SIM_DIR");
        std::string error;
        if (dir == nullptr || !file.open(dir, error)) {
            return;  // no virtual device: every open finds nothing
        }
        log_fd = ::open(state_file::log_path(dir).c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        ready = true;
    }
};

file_device& device() {
    static file_device instance;
    return instance;
}

// Whether a `kill` rule fired on the request just taken, and if so disarms it. The model
// counts a rule's matching requests in `seen`; a rule still armed whose count has reached
// its occurrence (the first match when it names none) has fired on this very request.
bool kill_rule_fired(device_state& state) {
    for (std::uint32_t i = 0; i < state.fault_count; ++i) {
        const fault_rule& rule = state.faults[i];
        if (rule.kind == fault_kind::kill && rule.seen > 0 && rule.seen >= rule.nth) {
            std::copy(state.faults + i + 1, state.faults + state.fault_count, state.faults + i);
            --state.fault_count;
            return true;
        }
    }
    return false;
}

}  // namespace

device_state* state() {
    return device().ready ? device().file.get() : nullptr;
}

std::int64_t now_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void wait_until_ns(std::int64_t time_ns) {
    if (device().exact_waits) {
        // Sleeps while more than 2 ms are left, then watches the clock.
        if (time_ns - now_ns() > 2'000'000) {
            const std::int64_t early = time_ns - 1'000'000;
            const timespec until{static_cast<time_t>(early / 1'000'000'000),
                                 static_cast<long>(early % 1'000'000'000)};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
            }
        }
        while (now_ns() < time_ns) {
        }
        return;
    }
    timespec until{};
    until.tv_sec = static_cast<time_t>(time_ns / 1'000'000'000);
    until.tv_nsec = static_cast<long>(time_ns % 1'000'000'000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

// A sleep may end later than asked by the thread's timer slack (50 us by default on Linux),
// as a time-out of poll() does; a report's arrival wakes a hidraw reader at once. The
// slack is taken away for the wait and put back after it.
void wait_for_event_ns(std::int64_t time_ns) {
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (device().exact_waits || slack <= 1 || prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0) != 0) {
        wait_until_ns(time_ns);
        return;
    }
    wait_until_ns(time_ns);
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0, 0, 0);
}

void log_request(const request_record& record) {
    if (device().log_fd >= 0) {
        // One write per record: a record is in the log whole or not at all.
        [[maybe_unused]] const ssize_t written = write(device().log_fd, &record, sizeof record);
    }
    if (device().ready && kill_rule_fired(*device().file.get())) {
        // The device has taken the request and the log holds it; the state lives in a
        // shared mapping, so it outlives the program as the device outlives the host.
        kill(getpid(), SIGKILL);
    }
}

void note_open(std::uint16_t /*product_id*/, bool /*opened*/) {}

}  // namespace sim::backend
