#pragma once

// A request to stop, made by a signal (Ctrl-C, SIGTERM) while a load or an update runs.
// Once it is made, no new request goes out to the device and no wait for the device
// starts; the request in flight is finished first, so that no report is cut in half.
namespace ostrel {

// Records `signal_number`; safe to call from a signal handler.
void request_stop(int signal_number) noexcept;

// The signal that asked to stop, 0 when none did, and 0 while a stop_hold lives: a stop
// requested then is acted on once the last hold has ended.
int stop_requested() noexcept;

// For the few requests that must go out together or not at all (a bridge bank's trailer,
// its check and the old bank's invalidation): while one lives, a stop waits. Holds nest.
// The caller checks stop_requested() before taking one.
class stop_hold {
  public:
    stop_hold() noexcept;
    ~stop_hold();
    stop_hold(const stop_hold&) = delete;
    stop_hold& operator=(const stop_hold&) = delete;
    stop_hold(stop_hold&&) = delete;
    stop_hold& operator=(stop_hold&&) = delete;
};

}  // namespace ostrel
