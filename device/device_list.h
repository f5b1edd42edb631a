#pragma once

#include <string>
#include <vector>

// The Ostrels the system lists, and where a run follows the one it works on. Reads the
// system's device list only: nothing here sends anything to a device.
namespace ostrel {

struct listed_device {
    unsigned short product_id = 0;  // app_product_id or bootloader_product_id
    std::string port;               // USB port path ("1-4.2"); empty where the system gives none
    std::string serial;             // serial number; empty when the device has none
    std::string path;               // the system's device path, which a mode switch may change
};

// Every Ostrel listed now, in either identity, in the system's order.
std::vector<listed_device> list_devices();

// Whether `pick` names `device` by its USB port path, its serial number or its device path.
bool picks(const listed_device& device, const std::string& pick);

// Where a run finds its Ostrel again after each mode switch: on its USB port, or where the
// system gives no port, by its serial number. Both empty: by the product id alone, the
// device listed under it when it is the only one (device_link opens none of several).
struct device_place {
    std::string port;
    std::string serial;
    // The run found no Ostrel when it claimed one: it finds none, not even one that comes
    // later (another run's, back from a mode switch).
    bool nowhere = false;
    // Picked by its device path alone (it has neither port nor serial number): found only
    // there, so not again once a mode switch has given it another path.
    std::string path;
};

// The path of the device listed under `product_id` at `place`; empty when none is there.
std::string path_at(const device_place& place, unsigned short product_id);

}  // namespace ostrel
