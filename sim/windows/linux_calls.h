#pragma once

#include <cstdint>

// The few Linux system calls that the Windows stand-in makes from under Wine, where a
// Windows program is a Linux process: the process's `syscall` instruction reaches the Linux
// kernel as any other's does. They give it what Windows calls cannot share with the Linux
// processes of the virtual device: the same monotonic clock (Wine's performance counter
// follows another Linux clock, some 100 ms apart), the same flock, and signals. x86-64 only,
// and only under Wine on Linux; never part of the program.
namespace sim::linux_calls {

// Linux's struct timespec on x86-64.
struct timespec64 {
    std::int64_t seconds;
    std::int64_t nanoseconds;
};

inline std::int64_t call(std::int64_t number, std::int64_t a = 0, std::int64_t b = 0,
                         std::int64_t c = 0, std::int64_t d = 0) {
    std::int64_t result = 0;
    register std::int64_t fourth __asm__("r10") = d;
    __asm__ volatile("syscall"
                     : "=a"(result)
                     : "a"(number), "D"(a), "S"(b), "d"(c), "r"(fourth)
                     : "rcx", "r11", "memory");
    return result;
}

inline constexpr std::int64_t interrupted = -4;  // -EINTR
inline constexpr std::int64_t monotonic = 1;     // CLOCK_MONOTONIC

inline std::int64_t monotonic_ns() {
    timespec64 now{};
    call(228, monotonic, reinterpret_cast<std::int64_t>(&now));  // clock_gettime
    return now.seconds * 1'000'000'000 + now.nanoseconds;
}

// Sleeps until the monotonic clock reads `time_ns`.
inline void sleep_until_ns(std::int64_t time_ns) {
    const timespec64 until{time_ns / 1'000'000'000, time_ns % 1'000'000'000};
    constexpr std::int64_t absolute = 1;  // TIMER_ABSTIME
    while (call(230, monotonic, absolute, reinterpret_cast<std::int64_t>(&until), 0) ==
           interrupted) {  // clock_nanosleep
    }
}

// open(path, O_RDONLY | O_CLOEXEC): a file descriptor, or a negative error.
inline std::int64_t open_read_only(const char* path) {
    constexpr std::int64_t read_only_close_on_exec = 02000000;
    return call(2, reinterpret_cast<std::int64_t>(path), read_only_close_on_exec, 0);
}

// flock(fd, LOCK_EX) and flock(fd, LOCK_UN).
inline bool lock_exclusive(std::int64_t fd) {
    std::int64_t result = 0;
    do {
        result = call(73, fd, 2);
    } while (result == interrupted);
    return result == 0;
}
inline void unlock(std::int64_t fd) {
    call(73, fd, 8);
}

// kill(getpid(), signal).
inline void signal_self(int signal) {
    call(62, call(39), signal);
}

}  // namespace sim::linux_calls
