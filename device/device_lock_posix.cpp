// The one-run-per-device lock on Linux and other POSIX systems: an flock on a file in /tmp.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "device/device_lock_file.h"

namespace ostrel::lock_file {
namespace {

// Every user may open the lock file to take the lock: read access is all flock needs.
constexpr mode_t lock_file_mode = 0644;

// Opens the lock file read-only, never through a symbolic link, making it when it is not
// there (readable by all whatever the umask); -1 with errno set when neither works. Without
// waiting: a FIFO planted in its place does not hold the run.
int open_lock_file(const std::string& path) {
    constexpr int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), flags);
        if (fd >= 0 || errno != ENOENT) {
            return fd;
        }
        const int made = ::open(path.c_str(), flags | O_CREAT | O_EXCL, lock_file_mode);
        if (made >= 0 && ::fchmod(made, lock_file_mode) != 0) {
            const int error = errno;
            static_cast<void>(::close(made));
            errno = error;
            return -1;
        }
        if (made >= 0 || errno != EEXIST) {
            return made;
        }
    }
    return -1;
}

// The name of the user with id `uid`, or the number when the system knows no name.
std::string user_name(uid_t uid) {
    const passwd* user = ::getpwuid(uid);
    return user != nullptr && user->pw_name != nullptr ? user->pw_name : std::to_string(uid);
}

// Why the lock file at `path` could not be opened (with `error` from the open), and what to do.
std::string unavailable_reason(const std::string& path, int error) {
    struct stat there {};
    if (::lstat(path.c_str(), &there) != 0) {
        return std::string("cannot be made (") + std::strerror(error) +
               "): its folder must let every user make files, as /tmp does";
    }
    const std::string owner = user_name(there.st_uid);
    const std::string remove = ": remove it (as " +
                               (there.st_uid == 0 ? owner : owner + " or as root") +
                               ") and try again";
    if (S_ISLNK(there.st_mode)) {
        return "is a symbolic link, which is never followed" + remove;
    }
    if (!S_ISREG(there.st_mode)) {
        return "is not a regular file" + remove;
    }
    return std::string("cannot be opened (") + std::strerror(error) + "); it belongs to user " +
           owner + remove;
}

}  // namespace

std::string directory() {
    const char* chosen = std::getenv("OSTREL_LOCK_DIR");
    if (chosen == nullptr || *chosen == '\0') {
        return "/tmp/";
    }
    const std::string folder = chosen;
    return folder.back() == '/' ? folder : folder + "/";
}

outcome take(const std::string& path, handle& held, std::string& why) {
    const int fd = open_lock_file(path);
    if (fd < 0) {
        why = unavailable_reason(path, errno);
        return outcome::unavailable;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        static_cast<void>(::close(fd));
        why = unavailable_reason(path, EINVAL);
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

bool held_elsewhere(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    // Shared: two of these tries at once do not see each other.
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    static_cast<void>(::close(fd));
    return held;
}

}  // namespace ostrel::lock_file
