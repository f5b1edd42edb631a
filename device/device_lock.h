#pragma once

#include <optional>
#include <string>

#include "device/device_list.h"
#include "device/device_lock_file.h"

// One run per device at a time. A run takes the lock of its Ostrel before it sends anything, and
// holds it to its end. A lock is a lock on a file named after the device's place (its USB port
// where the system tells it, which a mode switch does not change), so the system drops it when its
// holder ends, however it ends, and any user can take it: an flock in /tmp, or on Windows a
// byte-range lock in the user's temporary folder. A lock that cannot be taken stops the run
// as a busy one does: no run goes on unlocked (device/device_lock_posix.cpp,
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
    // same. `file` gets the lock's file. Busy when another run holds it; unavailable when the
    // file can be neither opened nor made, or is no regular file: the run must not go on
    // then either, and `why` says why and what to do.
    lock_file::outcome take(const listed_device& device, std::string& file, std::string& why);

    // For a run that finds no Ostrel listed: the file of a lock that another run holds, of
    // the Ostrel that `pick` names (by USB port or serial number), or with no pick of any
    // Ostrel, whose device may be off USB for a mode switch. Nothing when none is held.
    static std::optional<std::string> held_elsewhere(const std::optional<std::string>& pick);

  private:
    lock_file::handle held_ = lock_file::no_handle;
};

}  // namespace ostrel
