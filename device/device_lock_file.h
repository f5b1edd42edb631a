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

// Where the lock files live, ending with the path separator: OSTREL_LOCK_DIR when it is set
// and not empty, else /tmp, or on Windows the user's temporary folder (empty when the system
// gives none). Runs that must not meet on a device must use the same.
std::string directory();

enum class outcome { held, busy, unavailable };
// Takes the lock in the file at `path`, making the file, readable by every user, when it is
// not there; a symbolic link is never followed. `held` gets the open file when it is taken.
// Unavailable when the file can be neither opened nor made, or is no regular file; `why`
// then says why and what to do, in words for the user that follow "The lock file " ("is a
// symbolic link, ...: remove it (as ... or as root) and try again").
outcome take(const std::string& path, handle& held, std::string& why);
// Lets go of a lock taken; the system also does when the process ends, however it ends.
void release(handle held);
// Whether another process holds the lock in the file at `path`: a try that does not wait
// and lets go at once, and does not stand in the way of another try like it.
bool held_elsewhere(const std::string& path);

}  // namespace ostrel::lock_file
