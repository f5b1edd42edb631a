#include "base/stop_request.h"

#include <csignal>

namespace ostrel {
namespace {

volatile std::sig_atomic_t pending_signal = 0;
int holds = 0;  // the program's one thread alone changes it, never a signal handler

}  // namespace

void request_stop(int signal_number) noexcept {
    pending_signal = signal_number;
}

int stop_requested() noexcept {
    return holds > 0 ? 0 : pending_signal;
}

stop_hold::stop_hold() noexcept {
    ++holds;
}

stop_hold::~stop_hold() {
    --holds;
}

}  // namespace ostrel
