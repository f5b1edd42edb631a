#pragma once

#include <initializer_list>
#include <string>

#include "device/device_list.h"

namespace ostrel {

// Whether the system lists the device under one of `product_ids`, whether or not it can be
// opened; with a place, the device there only. Reads the system's device list only; nothing
// is sent to the device.
bool device_listed(std::initializer_list<unsigned short> product_ids,
                   const device_place& place = {});

// What can keep a listed device from being opened on this system, and what to do about it:
// the access rights of its hidraw node on Linux, another program holding it on Windows. One
// file per platform (presence_posix.cpp, presence_windows.cpp).
const char* open_blocker_hint();

// The USB port of the hidraw node at `device_path` ("1-4.2"), read from sysfs, which a mode
// switch does not change; empty when the system does not tell (a virtual device, Windows).
std::string system_usb_port(const std::string& device_path);

}  // namespace ostrel
