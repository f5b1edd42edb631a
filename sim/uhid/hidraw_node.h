#pragma once

#include <cstdint>
#include <string>

namespace sim::uhid {

// The /dev path of the hidraw node the kernel made for the HID device `vendor`:`product`
// with the serial number `serial` on the USB bus; empty while there is none.
std::string find_hidraw_node(std::uint16_t vendor, std::uint16_t product,
                             const std::string& serial);

}  // namespace sim::uhid
