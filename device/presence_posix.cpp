#include "device/presence.h"

#include <filesystem>
#include <string_view>

namespace ostrel {

const char* open_blocker_hint() {
    return "check the access rights to its hidraw device (udev rule 70-ostrel.rules, see "
           "ostrel_firmware_update(1))";
}

// The USB port of a hidraw node ("1-4.2"), read from sysfs; empty when it has none (a
// virtual HID device) or the system does not tell.
std::string system_usb_port(const std::string& device_path) {
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

}  // namespace ostrel
