#include "device/stop_request.h"

#include <csignal>

namespace ostrel {
namespace {

volatile std::sig_atomic_t pending_signal = 0;

}  // namespace

void request_stop(int signal_number) noexcept {
    pending_signal = signal_number;
}

int stop_requested() noexcept {
    return pending_signal;
}

}  // namespace ostrel
