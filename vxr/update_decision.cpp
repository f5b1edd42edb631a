// Which regions of the bridge's flash differ from a Fullrom image.
#include "device/bootloader_thread.h"
#include "vxr/flash_map.h"
#include "vxr/flash_queries.h"
#include "vxr/fullrom.h"

namespace ostrel {
namespace {

// Whether the device's range [address, address + length) differs from the image's bytes
// at the same addresses. A checksum the device did not give counts as a difference, even
// when the image's sum happens to be 0.
bool differs(hid_device* app_handle, const byte_vector& image, std::uint32_t address,
             std::uint32_t length) {
    const auto device_sum = vxr::query_flash_checksum(app_handle, address, length);
    const std::uint8_t* first = image.data() + address;
    return !device_sum || *device_sum != sum_bytes(first, first + length);
}

}  // namespace

// The device sees 'T', then 'K' for the valid config bank and the valid firmware bank (bank 1
// when both of a pair claim to be valid), then 'K' for the esm region. No device, or a file
// that cannot be read or has not the length of an image: nothing to do, nothing sent.
vxr_update_plan bootloader_thread::check_vxr_update(const std::string& fullrom_path) {
    vxr_update_plan plan;
    if (app_handle == nullptr) {
        return plan;
    }
    const auto image = read_file(fullrom_path);
    if (!image || !vxr::fullrom_length_ok(image->size())) {
        return plan;
    }
    const std::uint8_t status = read_bank_status();

    if ((status & vxr::config_flags) == 0) {
        plan.config = true;
    } else {
        const std::uint32_t bank = (status & vxr::config_bank1_flag) != 0 ? vxr::config_bank1_start
                                                                          : vxr::config_bank0_start;
        plan.config = differs(app_handle, *image, bank, vxr::config_size);
    }
    if ((status & vxr::fw_flags) == 0) {
        plan.fw = true;
    } else {
        const std::uint32_t bank =
            (status & vxr::fw_bank1_flag) != 0 ? vxr::fw_bank1_start : vxr::fw_bank0_start;
        plan.fw = differs(app_handle, *image, bank, vxr::fw_size);
    }
    plan.esm = differs(app_handle, *image, vxr::esm_start, vxr::esm_size);
    return plan;
}

}  // namespace ostrel
