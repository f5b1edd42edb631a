#pragma once

#include <initializer_list>

namespace ostrel {

// Whether the system lists the device under one of `product_ids`, whether or not it can be
// opened. Reads the system's device list only; nothing is sent to the device.
bool device_listed(std::initializer_list<unsigned short> product_ids);

}  // namespace ostrel
