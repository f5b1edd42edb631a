#include "device/device_lock.h"

#include <array>
#include <cstdio>

#include "device/report.h"

namespace ostrel {
namespace {

constexpr std::size_t readable_key_limit = 96;

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

// The name of the lock file of `device`: after its USB port, which a mode switch does not
// change; where the system gives none, after its serial number; else after its device path.
std::string device_lock_file(const listed_device& device) {
    const std::string key = !device.port.empty()     ? "usb-" + device.port
                            : !device.serial.empty() ? "serial-" + device.serial
                                                     : device.path;
    std::array<char, 8> vendor{};
    static_cast<void>(std::snprintf(vendor.data(), vendor.size(), "%04x",
                                    static_cast<unsigned>(device_vendor_id)));
    return lock_file::directory() + "ostrel_firmware_update-" + vendor.data() + "-" +
           file_name_part(key) + ".lock";
}

}  // namespace

device_locks::~device_locks() {
    if (held_ != lock_file::no_handle) {
        lock_file::release(held_);
    }
}

bool device_locks::take(std::string& busy_file, const listed_device& device) {
    const std::string file = device_lock_file(device);
    if (lock_file::take(file, held_) == lock_file::outcome::busy) {
        busy_file = file;
        return false;
    }
    return true;
}

}  // namespace ostrel
