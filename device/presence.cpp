#include "device/presence.h"

#include <hidapi.h>

#include <algorithm>

#include "device/report.h"

namespace ostrel {

bool device_listed(std::initializer_list<unsigned short> product_ids) {
    return std::ranges::any_of(product_ids, [](unsigned short product_id) {
        hid_device_info* found = hid_enumerate(device_vendor_id, product_id);
        hid_free_enumeration(found);
        return found != nullptr;
    });
}

}  // namespace ostrel
