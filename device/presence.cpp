#include "device/presence.h"

#include <hidapi.h>

#include "device/report.h"

namespace ostrel {

bool device_listed(std::initializer_list<unsigned short> product_ids) {
    for (const unsigned short product_id : product_ids) {
        hid_device_info* found = hid_enumerate(device_vendor_id, product_id);
        hid_free_enumeration(found);
        if (found != nullptr) {
            return true;
        }
    }
    return false;
}

}  // namespace ostrel
