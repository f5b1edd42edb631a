// The one-run-per-device lock on Linux and other POSIX systems: an flock on a file in /tmp.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "device/device_lock_file.h"

namespace ostrel::lock_file {
namespace {

// Opens the lock file read-only, making it when it is not there; -1 when neither works.
// Read access is enough for flock, so a file made by another user serves as well.
int open_lock_file(const std::string& path) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0 || errno != ENOENT) {
            return fd;
        }
        const int made =
            ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (made >= 0 || errno != EEXIST) {
            return made;
        }
    }
    return -1;
}

}  // namespace

std::string directory() {
    return "/tmp/";
}

outcome take(const std::string& path, handle& held) {
    const int fd = open_lock_file(path);
    if (fd < 0) {
        return outcome::unavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        held = fd;
        return outcome::held;
    }
    static_cast<void>(::close(fd));
    return outcome::busy;
}

void release(handle held) {
    static_cast<void>(::close(static_cast<int>(held)));
}

}  // namespace ostrel::lock_file
