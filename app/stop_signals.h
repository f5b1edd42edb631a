#pragma once

// Signals while the run works on the device. Ctrl-C and SIGTERM: the request in flight is
// finished, no new one starts, the task says where the device stands, and the process then
// ends as one killed by that signal, so that shells and scripts see the usual status. A
// hang-up (the terminal or the session closed): the task in hand goes on to its end, since
// stopping a load half way helps nobody who is gone, and then the run ends the same way.
namespace ostrel {

// While it lives, SIGINT and SIGTERM request a stop (base/stop_request.h) and SIGHUP asks
// the run to end after the task in hand, instead of ending the process.
class stop_signals {
  public:
    stop_signals();
    stop_signals(const stop_signals&) = delete;
    stop_signals& operator=(const stop_signals&) = delete;
    ~stop_signals();

  private:
    void (*previous_interrupt_)(int);
    void (*previous_terminate_)(int);
    void (*previous_hangup_)(int);
};

// Whether a hang-up came while a stop_signals lived.
bool hung_up() noexcept;

// When a signal requested a stop or a hang-up came, ends the process by that signal;
// returns otherwise.
void end_if_stopped();

}  // namespace ostrel
