#pragma once

// Ctrl-C and SIGTERM during a load or an update: the request in flight is finished, no new
// one starts, the task says where the device stands, and the process then ends as one
// killed by that signal, so that shells and scripts see the usual status.
namespace ostrel {

// While it lives, SIGINT and SIGTERM request a stop (device/stop_request.h) instead of
// ending the process.
class stop_signals {
  public:
    stop_signals();
    stop_signals(const stop_signals&) = delete;
    stop_signals& operator=(const stop_signals&) = delete;
    ~stop_signals();

  private:
    void (*previous_interrupt_)(int);
    void (*previous_terminate_)(int);
};

// When a signal requested a stop, ends the process by that signal; returns otherwise.
void end_if_stopped();

}  // namespace ostrel
