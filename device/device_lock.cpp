#include "device/device_lock.h"

#include <fcntl.h>
#include <hidapi.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "device/report.h"

namespace ostrel {
namespace {

constexpr std::string_view lock_directory = "/tmp";
constexpr std::size_t readable_key_limit = 96;

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

std::string file_name_part(const std::string& key) {
    std::string part;
    for (const char c : key) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-';
        part += plain ? c : '_';
    }
    if (part.size() <= readable_key_limit) {
        return part;
    }
    std::uint64_t hash = 0xCBF29CE484222325;  // FNV-1a
    for (const char c : key) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3;
    }
    std::array<char, 17> text{};
    static_cast<void>(
        std::snprintf(text.data(), text.size(), "%016llx", static_cast<unsigned long long>(hash)));
    return part.substr(0, readable_key_limit - 17) + "-" + text.data();
}

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

std::string device_lock_file(const std::string& device_path) {
    const std::string port = usb_port_of(device_path);
    const std::string key = port.empty() ? device_path : "usb-" + port;
    std::array<char, 8> vendor{};
    static_cast<void>(std::snprintf(vendor.data(), vendor.size(), "%04x",
                                    static_cast<unsigned>(device_vendor_id)));
    return std::string(lock_directory) + "/ostrel_firmware_update-" + vendor.data() + "-" +
           file_name_part(key) + ".lock";
}

device_locks::~device_locks() {
    for (const int fd : held_) {
        static_cast<void>(::close(fd));
    }
}

bool device_locks::take_listed(std::string& busy_file) {
    hid_device_info* const listed = hid_enumerate(device_vendor_id, 0);
    bool free = true;
    for (const hid_device_info* info = listed; info != nullptr && free; info = info->next) {
        if ((info->product_id != app_product_id && info->product_id != bootloader_product_id) ||
            info->path == nullptr) {
            continue;
        }
        const std::string file = device_lock_file(info->path);
        const int fd = open_lock_file(file);
        if (fd < 0) {
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            held_.push_back(fd);
        } else {
            static_cast<void>(::close(fd));
            busy_file = file;
            free = false;
        }
    }
    hid_free_enumeration(listed);
    return free;
}

}  // namespace ostrel
