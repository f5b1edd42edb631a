#include "device/device_lock.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <vector>

#include "base/file_access.h"
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

// What the name of every lock file of this program's Ostrels starts with.
std::string lock_file_prefix() {
    std::array<char, 8> vendor{};
    static_cast<void>(std::snprintf(vendor.data(), vendor.size(), "%04x",
                                    static_cast<unsigned>(device_vendor_id)));
    return std::string("ostrel_firmware_update-") + vendor.data() + "-";
}

constexpr std::string_view lock_file_suffix = ".lock";

// The name of the lock file of `device`: after its USB port, which a mode switch does not
// change; where the system gives none, after its serial number; else after its device path.
std::string device_lock_file(const listed_device& device) {
    const std::string key = !device.port.empty()     ? "usb-" + device.port
                            : !device.serial.empty() ? "serial-" + device.serial
                                                     : device.path;
    return lock_file::directory() + lock_file_prefix() + file_name_part(key) +
           std::string(lock_file_suffix);
}

// The lock files of every Ostrel in the lock directory.
std::vector<std::string> every_lock_file() {
    std::vector<std::string> files;
    std::error_code error;
    const std::string prefix = lock_file_prefix();
    for (std::filesystem::directory_iterator entry(file_path(lock_file::directory()), error), end;
         !error && entry != end; entry.increment(error)) {
        const std::u8string wide_name = entry->path().filename().u8string();
        const std::string name(wide_name.begin(), wide_name.end());
        if (name.starts_with(prefix) && name.ends_with(lock_file_suffix)) {
            files.push_back(lock_file::directory() + name);
        }
    }
    return files;
}

}  // namespace

device_locks::~device_locks() {
    if (held_ != lock_file::no_handle) {
        lock_file::release(held_);
    }
}

lock_file::outcome device_locks::take(const listed_device& device, std::string& file,
                                      std::string& why) {
    file = device_lock_file(device);
    return lock_file::take(file, held_, why);
}

std::optional<std::string> device_locks::held_elsewhere(const std::optional<std::string>& pick) {
    const std::vector<std::string> files =
        pick ? std::vector<std::string>{device_lock_file({.product_id = 0,
                                                          .port = *pick,
                                                          .serial = {},
                                                          .path = {}}),
                                        device_lock_file({.product_id = 0,
                                                          .port = {},
                                                          .serial = *pick,
                                                          .path = {}})}
             : every_lock_file();
    for (const std::string& file : files) {
        if (lock_file::held_elsewhere(file)) {
            return file;
        }
    }
    return std::nullopt;
}

}  // namespace ostrel
