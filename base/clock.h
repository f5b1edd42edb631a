#pragma once

#include <cstdint>

// The program's one notion of time. The shipped program uses the system's monotonic
// clock; the test build links a virtual clock that the virtual device advances, so waits
// of many seconds are checked to the millisecond without taking real time.
namespace ostrel {

// Monotonic time in nanoseconds since an arbitrary start.
std::int64_t monotonic_ns();

// Blocks the calling thread for the given number of milliseconds.
void sleep_ms(std::int64_t ms);

// Whole milliseconds since `start_ns`, truncated toward zero.
inline std::int64_t elapsed_ms(std::int64_t start_ns) {
    return (monotonic_ns() - start_ns) / 1'000'000;
}

}  // namespace ostrel
