#pragma once

#include <string>

#include "device/device_list.h"
#include "device/device_lock_file.h"

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

    // Takes the lock of `device`, as it was listed when the run chose it: the lock is named
    // from that listing, so a device that is re-enumerating at this moment is locked all the
    // same. False when another run holds it; `busy_file` then names that lock's file. A lock
    // file that cannot be made (no writable directory) is left out: the lock guards against
    // mistakes, it does not stand between users.
    bool take(std::string& busy_file, const listed_device& device);

  private:
    lock_file::handle held_ = lock_file::no_handle;
};

}  // namespace ostrel
