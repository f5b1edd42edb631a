#pragma once

#include <string>

#include "sim/device_state.h"

namespace sim {

// A device state kept in DIR/state.bin and mapped into memory: every change lands in the
// file at once and survives the process being killed.
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

    static std::string state_path(const std::string& dir) { return dir + "/state.bin"; }
    static std::string log_path(const std::string& dir) { return dir + "/requests.log"; }

  private:
    bool map(int fd, std::string& error);
    device_state* state_ = nullptr;
};

}  // namespace sim
