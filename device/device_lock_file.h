#pragma once

#include <cstdint>
#include <string>

// What the one-run-per-device lock (device/device_lock.h) needs from the system, one file
// per platform: device_lock_posix.cpp (an flock in /tmp), device_lock_windows.cpp (a
// byte-range lock in the user's temporary folder).
namespace ostrel::lock_file {

// An open lock file: a file descriptor, or a Windows handle.
using handle = std::intptr_t;
inline constexpr handle no_handle = -1;

// Where the lock files live, ending with the path separator.
std::string directory();

enum class outcome { held, busy, unavailable };
// Takes the lock in the file at `path`, making the file when it is not there. `held` gets
// the open file when it is taken; unavailable when the file can be neither opened nor made.
outcome take(const std::string& path, handle& held);
// Lets go of a lock taken; the system also does when the process ends, however it ends.
void release(handle held);

}  // namespace ostrel::lock_file
