#include "app/stop_signals.h"

#include <csignal>
#include <cstdio>

#include "base/stop_request.h"

namespace ostrel {
namespace {

#ifdef SIGHUP
constexpr int hangup_signal = SIGHUP;
#else
constexpr int hangup_signal = 0;  // no such signal on this system
#endif

volatile std::sig_atomic_t hangup_seen = 0;

extern "C" void on_stop_signal(int signal_number) {
    request_stop(signal_number);
}

extern "C" void on_hangup(int /*signal_number*/) {
    hangup_seen = 1;
}

// Installs `handler` for `signal_number` and returns the one before it; a signal the run
// was started to ignore (a background job's SIGINT, nohup's SIGHUP) stays ignored.
void (*install(int signal_number, void (*handler)(int)))(int) {
    void (*previous)(int) = std::signal(signal_number, handler);
    if (previous == SIG_IGN) {
        static_cast<void>(std::signal(signal_number, SIG_IGN));
    }
    return previous;
}

}  // namespace

stop_signals::stop_signals()
    : previous_interrupt_(install(SIGINT, on_stop_signal)),
      previous_terminate_(install(SIGTERM, on_stop_signal)),
      previous_hangup_(hangup_signal != 0 ? install(hangup_signal, on_hangup) : SIG_DFL) {}

stop_signals::~stop_signals() {
    static_cast<void>(std::signal(SIGINT, previous_interrupt_));
    static_cast<void>(std::signal(SIGTERM, previous_terminate_));
    if (hangup_signal != 0) {
        static_cast<void>(std::signal(hangup_signal, previous_hangup_));
    }
}

bool hung_up() noexcept {
    return hangup_seen != 0;
}

void end_if_stopped() {
    const int signal_number = stop_requested() != 0 ? stop_requested()
                              : hung_up()           ? hangup_signal
                                                    : 0;
    if (signal_number == 0) {
        return;
    }
    static_cast<void>(std::fflush(nullptr));
    static_cast<void>(std::signal(signal_number, SIG_DFL));
    static_cast<void>(std::raise(signal_number));
}

}  // namespace ostrel
