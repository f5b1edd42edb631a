#pragma once

#include <cstdint>
#include <span>

#include "device/device_link.h"

// Which regions of the bridge's flash differ from a Fullrom image.
namespace ostrel::vxr {

struct update_plan {
    bool esm = false;
    bool fw = false;
    bool config = false;
};

// Asks the device 'T', then 'K' for the valid config bank and the valid firmware bank, then
// 'K' for the esm region, and compares the sums with the image's. A pair with no valid bank,
// or with both banks claiming to be valid, needs the update without a 'K' (the update
// settles such a pair); a checksum that does not come counts as a difference. No application, or an
// image that has not the length of one: nothing to do, nothing sent.
update_plan check_update(device_link& link, std::span<const std::uint8_t> image);

}  // namespace ostrel::vxr
