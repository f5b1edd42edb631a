#pragma once

// A request to stop, made by a signal (Ctrl-C, SIGTERM) while a load or an update runs.
// Once it is made, no new request goes out to the device and no wait for the device
// starts; the request in flight is finished first, so that no report is cut in half.
namespace ostrel {

// Records `signal_number`; safe to call from a signal handler.
void request_stop(int signal_number) noexcept;

// The signal that asked to stop, 0 when none did.
int stop_requested() noexcept;

}  // namespace ostrel
