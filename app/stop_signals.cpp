#include "app/stop_signals.h"

#include <csignal>
#include <cstdio>

#include "device/stop_request.h"

namespace ostrel {
namespace {

extern "C" void on_stop_signal(int signal_number) {
    request_stop(signal_number);
}

}  // namespace

stop_signals::stop_signals()
    : previous_interrupt_(std::signal(SIGINT, on_stop_signal)),
      previous_terminate_(std::signal(SIGTERM, on_stop_signal)) {
    // A signal the run was started to ignore (a background job's SIGINT) stays ignored.
    if (previous_interrupt_ == SIG_IGN) {
        static_cast<void>(std::signal(SIGINT, SIG_IGN));
    }
    if (previous_terminate_ == SIG_IGN) {
        static_cast<void>(std::signal(SIGTERM, SIG_IGN));
    }
}

stop_signals::~stop_signals() {
    static_cast<void>(std::signal(SIGINT, previous_interrupt_));
    static_cast<void>(std::signal(SIGTERM, previous_terminate_));
}

void end_if_stopped() {
    const int signal_number = stop_requested();
    if (signal_number == 0) {
        return;
    }
    static_cast<void>(std::fflush(nullptr));
    static_cast<void>(std::signal(signal_number, SIG_DFL));
    static_cast<void>(std::raise(signal_number));
}

}  // namespace ostrel
