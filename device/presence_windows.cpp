#include "device/presence.h"

namespace ostrel {

// Windows opens a HID device for any user without a driver of its own; what stands in the
// way is a program that opened it without sharing it.
const char* open_blocker_hint() {
    return "another program may hold it open exclusively: close the programs that talk to the "
           "Ostrel, or unplug it and plug it back in, and try again (a HID device needs no "
           "driver and no special rights on Windows)";
}

// Windows tells the program no USB port without more system calls.
std::string system_usb_port(const std::string& /*device_path*/) {
    return {};
}

}  // namespace ostrel
