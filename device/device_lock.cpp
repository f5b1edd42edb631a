#include "device/device_lock.h"

#include <array>
#include <cstdio>

#include "device/device_list.h"
#include "device/device_lock_file.h"
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

}  // namespace

std::string device_lock_file(const std::string& device_path) {
    const std::string port = usb_port_of(device_path);
    const std::string key = port.empty() ? device_path : "usb-" + port;
    std::array<char, 8> vendor{};
    static_cast<void>(std::snprintf(vendor.data(), vendor.size(), "%04x",
                                    static_cast<unsigned>(device_vendor_id)));
    return lock_file::directory() + "ostrel_firmware_update-" + vendor.data() + "-" +
           file_name_part(key) + ".lock";
}

device_locks::~device_locks() {
    for (const lock_file::handle held : held_) {
        lock_file::release(held);
    }
}

bool device_locks::take_listed(std::string& busy_file, const device_place& place) {
    const bool every = place.port.empty() && place.serial.empty();
    bool free = true;
    for (const listed_device& device : list_devices()) {
        const bool there =
            place.port.empty() ? device.serial == place.serial : device.port == place.port;
        if (!free || (!every && !there)) {
            continue;
        }
        const std::string file = device_lock_file(device.path);
        lock_file::handle held = lock_file::no_handle;
        switch (lock_file::take(file, held)) {
            case lock_file::outcome::held:
                held_.push_back(held);
                break;
            case lock_file::outcome::busy:
                busy_file = file;
                free = false;
                break;
            case lock_file::outcome::unavailable:
                break;
        }
    }
    return free;
}

}  // namespace ostrel
