#include "device/presence.h"

#include <hidapi.h>

#include <algorithm>

#include "device/report.h"

namespace ostrel {

bool device_listed(std::initializer_list<unsigned short> product_ids, const device_place& place) {
    return std::ranges::any_of(product_ids, [&place](unsigned short product_id) {
        if (place.nowhere) {
            return false;
        }
        if (!place.port.empty() || !place.serial.empty() || !place.path.empty()) {
            return !path_at(place, product_id).empty();
        }
        hid_device_info* found = hid_enumerate(device_vendor_id, product_id);
        hid_free_enumeration(found);
        return found != nullptr;
    });
}

}  // namespace ostrel
