// The update decision: the device's sums against the image's (vxr/update_decision.h).
#include "vxr/update_decision.h"

#include "vxr/flash_map.h"
#include "vxr/flash_operations.h"
#include "vxr/fullrom.h"

namespace ostrel::vxr {
namespace {

// Whether the device's range [address, address + length) differs from the image's bytes
// at the same addresses. A checksum the device did not give counts as a difference, even
// when the image's sum happens to be 0.
bool differs(device_link& link, std::span<const std::uint8_t> image, std::uint32_t address,
             std::uint32_t length) {
    const auto device_sum = query_flash_checksum(link, address, length);
    const std::uint8_t* first = image.data() + address;
    return !device_sum || *device_sum != sum_bytes(first, first + length);
}

// Whether a bank pair needs the update: yes when neither bank is valid, and when both claim
// to be valid (the update settles the pair), else when the valid bank differs from the image.
bool pair_differs(device_link& link, std::span<const std::uint8_t> image, std::uint8_t status,
                  const flash_region& pair) {
    const bool valid0 = (status & pair.flag[0]) != 0;
    const bool valid1 = (status & pair.flag[1]) != 0;
    if (valid0 == valid1) {
        return true;
    }
    return differs(link, image, valid1 ? pair.start[1] : pair.start[0], pair.size);
}

}  // namespace

update_plan check_update(device_link& link, std::span<const std::uint8_t> image) {
    update_plan plan;
    if (!link.app_open() || !fullrom_length_ok(image.size())) {
        return plan;
    }
    // A status that does not come counts as no bank valid: both pairs are to be written.
    // The update asks again and refuses to erase anything without an answer.
    const std::uint8_t status = query_bank_status(link).value_or(0);
    plan.config = pair_differs(link, image, status, config_region);
    plan.fw = pair_differs(link, image, status, fw_region);
    plan.esm = differs(link, image, esm_start, esm_size);
    return plan;
}

}  // namespace ostrel::vxr
