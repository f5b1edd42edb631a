// The one-run-per-device lock on Linux and other POSIX systems: an flock on a file in /tmp,
// named after the hidraw node's USB port where sysfs tells it.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string_view>

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

// The USB port of a hidraw node ("1-4.2"), read from sysfs; empty when it has none (a
// virtual HID device) or the system does not tell.
std::string usb_port_of(const std::string& device_path) {
    constexpr std::string_view hidraw_prefix = "/dev/";
    if (device_path.rfind(hidraw_prefix, 0) != 0) {
        return {};
    }
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(
        "/sys/class/hidraw/" + device_path.substr(hidraw_prefix.size()) + "/device", error);
    if (error) {
        return {};
    }
    // .../usb1/1-4/1-4.2/1-4.2:1.0/0003:1209:0101.0007: the port is the last component
    // made of a bus number, a dash, and port numbers with dots.
    std::string port;
    for (const auto& part : device) {
        const std::string name = part.string();
        const std::size_t dash = name.find('-');
        if (dash != std::string::npos && dash > 0 &&
            name.find_first_not_of("0123456789.-") == std::string::npos) {
            port = name;
        }
    }
    return port;
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
