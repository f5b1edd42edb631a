#pragma once

#include <initializer_list>

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

}  // namespace ostrel
