#pragma once

// A device state kept in DIR/state.bin and mapped into memory: every change lands in the
// file at once and survives the process being killed. Every process that works on the
// state holds it (lock) for each step, so that steps of several processes never interleave.
#include <cstdint>
#include <string>

#include "sim/device_state.h"

namespace sim {

class state_file {
  public:
    state_file() = default;
    state_file(const state_file&) = delete;
    state_file& operator=(const state_file&) = delete;
    ~state_file();

    // Maps an existing state; false with `error` set when DIR holds no usable state.
    bool open(const std::string& dir, std::string& error);
    // Makes DIR (if needed) and a fresh state in it, replacing what was there.
    bool create(const std::string& dir, std::string& error);

    device_state* get() const { return state_; }

    // Holds the state against every other process that has it open, waiting while another
    // holds it; false when the file system keeps no locks (the state is then unguarded).
    // An flock: a holder that dies, even by SIGKILL, lets go at once. Never to be held while
    // waiting for anything but the lock.
    bool lock() const;
    void unlock() const;

    static std::string state_path(const std::string& dir) { return dir + "/state.bin"; }
    static std::string log_path(const std::string& dir) { return dir + "/requests.log"; }

  private:
    bool map(int fd, std::string& error);
    void release();
    device_state* state_ = nullptr;
    int fd_ = -1;  // open for the lock as long as the state is mapped
};

// state_file::lock() for the length of a scope.
class state_hold {
  public:
    explicit state_hold(const state_file& file) : file_(file) {
        static_cast<void>(file_.lock());  // without locks the state is used unguarded
    }
    ~state_hold() { file_.unlock(); }
    state_hold(const state_hold&) = delete;
    state_hold& operator=(const state_hold&) = delete;

  private:
    const state_file& file_;
};

// The clock of a device kept in a state file: CLOCK_MONOTONIC, the one clock that every
// process sharing the file reads (the Windows stand-in reads it through Linux's own call,
// sim/windows/linux_calls.h).
std::int64_t state_clock_ns();

}  // namespace sim
