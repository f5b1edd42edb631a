#include "device/device_list.h"

#include <hidapi.h>

#include "device/presence.h"
#include "device/report.h"

namespace ostrel {
namespace {

// A serial number as the program prints and compares it: characters outside ASCII as '?'.
std::string narrow(const wchar_t* text) {
    std::string out;
    for (; text != nullptr && *text != L'\0'; ++text) {
        out += (*text > 0 && *text < 0x80) ? static_cast<char>(*text) : '?';
    }
    return out;
}

bool is_ostrel(const hid_device_info& info) {
    return (info.product_id == app_product_id || info.product_id == bootloader_product_id) &&
           info.path != nullptr;
}

// The port part of a libusb backend path: bus, dash, port numbers with dots, then ':'.
std::string libusb_port(const std::string& path) {
    const std::size_t colon = path.find(':');
    const std::string port = path.substr(0, colon);
    const std::size_t dash = port.find('-');
    const bool shaped = colon != std::string::npos && dash != std::string::npos && dash > 0 &&
                        dash + 1 < port.size() &&
                        port.find_first_not_of("0123456789.-") == std::string::npos;
    return shaped ? port : std::string();
}

// The USB port path of the device hidapi lists at `device_path`: from sysfs for a hidraw
// node, from the path itself for hidapi's libusb backend ("1-4.2:1.0"); empty when the
// system does not tell (a virtual HID device, Windows).
std::string usb_port_of(const std::string& device_path) {
    const std::string port = system_usb_port(device_path);
    return port.empty() ? libusb_port(device_path) : port;
}

}  // namespace

std::vector<listed_device> list_devices() {
    std::vector<listed_device> found;
    hid_device_info* const listed = hid_enumerate(device_vendor_id, 0);
    for (const hid_device_info* info = listed; info != nullptr; info = info->next) {
        if (is_ostrel(*info)) {
            found.push_back({info->product_id, usb_port_of(info->path), narrow(info->serial_number),
                             info->path});
        }
    }
    hid_free_enumeration(listed);
    return found;
}

bool picks(const listed_device& device, const std::string& pick) {
    return (!device.port.empty() && device.port == pick) ||
           (!device.serial.empty() && device.serial == pick) || device.path == pick;
}

std::string path_at(const device_place& place, unsigned short product_id) {
    if (place.nowhere) {
        return {};
    }
    for (const listed_device& device : list_devices()) {
        const bool there = !place.path.empty()  ? device.path == place.path
                           : place.port.empty() ? device.serial == place.serial
                                                : device.port == place.port;
        if (device.product_id == product_id && there) {
            return device.path;
        }
    }
    return {};
}

}  // namespace ostrel
