// The backend of the shared library that replaces the system hidapi: the device lives in
// the state file of each directory named by OSTREL_SIM_DIRS (set by `ostrel_sim run`), and
// time is the real monotonic clock. A `kill` fault signals the program here.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <string>
#include <utility>

#include "sim/backend.h"
#include "sim/state_file.h"

namespace sim::backend {
namespace {

// One device directory of OSTREL_SIM_DIRS (or OSTREL_SIM_DIR).
struct file_device {
    state_file file;
    int log_fd = -1;
    // "virtual:ostrel:" and the device directory's absolute path.
    std::string path;

    // False when `dir` holds no usable device.
    bool open(const std::string& dir) {
        std::string error;
        if (!file.open(dir, error)) {
            return false;
        }
        log_fd = ::open(state_file::log_path(dir).c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        char absolute[PATH_MAX];
        path = std::string("virtual:ostrel:") +
               (realpath(dir.c_str(), absolute) != nullptr ? absolute : dir);
        return true;
    }
};

// The devices on the virtual USB: the directories `ostrel_sim run` names in OSTREL_SIM_DIRS
// (separated by ':'), or the one in OSTREL_SIM_DIR.
struct file_usb {
    std::deque<file_device> devices;
    // The signal a `kill` fault sends once the device is let go; 0 when none is due.
    int pending_signal = 0;
    // OSTREL_SIM_EXACT_WAITS=1: every wait ends when it is due, by watching the clock for its
    // last stretch instead of sleeping, so that a measurement can leave out how late the
    // system wakes a sleeper. Replies and time-outs come at the same times as otherwise.
    bool exact_waits = false;

    file_usb() {
        const char* exact = std::getenv("OSTREL_SIM_EXACT_WAITS");
        exact_waits = exact != nullptr && *exact != '\0' && std::string(exact) != "0";
        const char* dirs = std::getenv("OSTREL_SIM_DIRS");
        if (dirs == nullptr || *dirs == '\0') {
            dirs = std::getenv("OSTREL_SIM_DIR");
        }
        std::string list = dirs != nullptr ? dirs : "";
        while (!list.empty()) {
            const std::size_t colon = list.find(':');
            const std::string dir = list.substr(0, colon);
            list = colon == std::string::npos ? "" : list.substr(colon + 1);
            if (!dir.empty() && !devices.emplace_back().open(dir)) {
                devices.pop_back();  // no virtual device there: it is not on USB
            }
        }
    }
};

file_usb& usb() {
    static file_usb instance;
    return instance;
}

file_device* device(std::size_t index) {
    return index < usb().devices.size() ? &usb().devices[index] : nullptr;
}

}  // namespace

std::size_t device_count() {
    return usb().devices.size();
}

device_state* state(std::size_t index) {
    return device(index) != nullptr ? device(index)->file.get() : nullptr;
}

// The reader of the program's standard output goes away, as `| head` does once it has its
// lines: the output becomes a pipe that nobody reads, and the next write fails.
void lose_reader() {
    int ends[2];
    if (pipe(ends) == 0) {
        static_cast<void>(close(ends[0]));
        static_cast<void>(dup2(ends[1], STDOUT_FILENO));
        static_cast<void>(close(ends[1]));
    }
}

void lock(std::size_t index) {
    if (file_device* held = device(index)) {
        static_cast<void>(held->file.lock());  // without locks the state is used unguarded
    }
}

void unlock(std::size_t index) {
    file_device* held = device(index);
    if (held == nullptr) {
        return;
    }
    held->file.unlock();
    // The device has taken the request and the log holds it; the state lives in a shared
    // mapping, so it outlives the program as the device outlives the host.
    if (const int signal = std::exchange(usb().pending_signal, 0); signal != 0) {
        if (signal == SIGPIPE) {
            lose_reader();
        }
        kill(getpid(), signal);
    }
}

std::string device_path(std::size_t index) {
    file_device* found = device(index);
    if (found == nullptr) {
        return {};
    }
    const std::string port = usb_port(*found->file.get());
    return port.empty() ? found->path : port + ":1.0";
}

std::int64_t now_ns() {
    return state_clock_ns();
}

void wait_until_ns(std::int64_t time_ns) {
    if (usb().exact_waits) {
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
    if (usb().exact_waits || slack <= 1 || prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0) != 0) {
        wait_until_ns(time_ns);
        return;
    }
    wait_until_ns(time_ns);
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0, 0, 0);
}

void log_request(const request_record& record, std::size_t index) {
    file_device* found = device(index);
    if (found == nullptr) {
        return;
    }
    if (found->log_fd >= 0) {
        // One write per record: a record is in the log whole or not at all.
        [[maybe_unused]] const ssize_t written = write(found->log_fd, &record, sizeof record);
    }
    usb().pending_signal = take_fired_kill(*found->file.get());  // sent by unlock()
}

void note_open(std::uint16_t /*product_id*/, bool /*opened*/, std::size_t /*index*/) {}

}  // namespace sim::backend
