#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/device_list.h"

// One run per device at a time. A run takes the lock of its Ostrel before it sends anything, and
// holds it to its end. A lock is a lock on a file named after the device's place (its USB port
// where the system tells it, which a mode switch does not change), so the system drops it when its
// holder ends, however it ends, and any user can take it: an flock in /tmp, or on Windows a
// byte-range lock in the user's temporary folder (device/device_lock_posix.cpp,
// device/device_lock_windows.cpp).
namespace ostrel {

class device_locks {
  public:
    device_locks() = default;
    device_locks(const device_locks&) = delete;
    device_locks& operator=(const device_locks&) = delete;
    ~device_locks();

    // Takes the lock of the Ostrel listed at `place` now, in either identity, or with no
    // place the lock of every Ostrel listed. False when another run holds one of them; `busy_file`
    // then names that lock's file. A lock file that cannot be made (no writable directory) is left
    // out: the lock guards against mistakes, it does not stand between users.
    bool take_listed(std::string& busy_file, const device_place& place);

  private:
    std::vector<std::intptr_t> held_;  // a file descriptor, or a Windows handle
};

// The name of the lock file of the device that hidapi lists at `device_path`.
std::string device_lock_file(const std::string& device_path);

}  // namespace ostrel
