// The bridge update: each region that differs from the image is written into the bank the
// device does not run from, checked, and only then is the other bank invalidated.
#include "vxr/update.h"
#include "device/bootloader_thread.h"
#include "vxr/flash_map.h"
#include "vxr/flash_queries.h"
#include "vxr/fullrom.h"

namespace ostrel {
namespace {

bool erase_bank_sectors(bootloader_thread& device, std::uint32_t start) {
    for (std::uint32_t i = 0; i < vxr::bank_sectors; ++i) {
        if (!device.erase_flash_sector(start + i * vxr::sector_size)) {
            return false;
        }
    }
    return true;
}

// Writes the image's bytes [source, source + length) at `target` and asks the device for
// the sum of what it now holds there: the write must have taken, not only been
// acknowledged, before anything relies on it.
bool write_checked(bootloader_thread& device, std::uint32_t target, const byte_vector& image,
                   std::uint32_t source, std::uint32_t length, const progress_callback& sink) {
    const std::span<const std::uint8_t> region(image.data() + source, length);
    if (!vxr::write_flash_bytes(device.app_handle, target, region, sink)) {
        return false;
    }
    const auto device_sum = vxr::query_flash_checksum(device.app_handle, target, length);
    return device_sum && *device_sum == sum_bytes(region.data(), region.data() + length);
}

// Writes a bank as write_checked does. A bank that was written whole but cannot be
// confirmed carries the image's valid trailer beside the old bank, which is still valid:
// it is invalidated again, so that the bridge cannot start from a copy that did not take.
bool write_bank_checked(bootloader_thread& device, std::uint32_t target, std::uint32_t flag,
                        const byte_vector& image, std::uint32_t source, std::uint32_t length,
                        const progress_callback& sink) {
    if (write_checked(device, target, image, source, length, sink)) {
        return true;
    }
    device.invalidate_bank(flag);
    return false;
}

bool contradictory(std::uint8_t status) {
    return (status & vxr::config_flags) == vxr::config_flags ||
           (status & vxr::fw_flags) == vxr::fw_flags;
}

}  // namespace

bool bootloader_thread::vxr_flash_update(const std::string& fullrom_path,
                                         const progress_callback& progress,
                                         vxr_update_report& report) {
    report = {};
    if (app_handle == nullptr) {
        return false;
    }
    vxr_update_plan plan = check_vxr_update(fullrom_path);
    const auto image = read_file(fullrom_path);
    if (!image || !vxr::fullrom_length_ok(image->size()) || vxr::fullrom_refusal(*image)) {
        return false;  // refused before anything is erased; nothing read past its end
    }
    // A status that did not come is not "no bank valid": taking it for 0 would erase the
    // bank the bridge runs from.
    const auto status_read = vxr::query_bank_status(app_handle);
    if (!status_read) {
        return false;
    }
    std::uint8_t status = *status_read;
    if (contradictory(status)) {
        // Both banks of a pair claim to be valid and there is no telling which is good:
        // both pairs are erased and written afresh into bank 0. A firmware bank spans two
        // blocks, its trailer in the second: that block goes first, so that no interruption
        // leaves a bank valid whose start is erased. The stages below take every bank for
        // erased and write bank 0 sector by sector, which would tear a bank still valid: an
        // erase that fails ends the update.
        report.stage = vxr_stage::recovery;
        report.recovered = true;
        for (const std::uint32_t pair_start : {vxr::config_bank0_start, vxr::config_bank1_start}) {
            if (!erase_flash_block(pair_start + vxr::block_size) ||
                !erase_flash_block(pair_start)) {
                return false;
            }
        }
        plan.config = true;
        plan.fw = true;
        status = 0;
    }

    const std::uint32_t total_bytes = (plan.config ? vxr::config_size : 0) +
                                      (plan.fw ? vxr::fw_size : 0) + (plan.esm ? vxr::esm_size : 0);
    const double total = static_cast<double>(total_bytes);
    const bool config = plan.config;
    const bool fw = plan.fw;

    if (plan.config) {
        report.stage = vxr_stage::config;
        if (app_handle == nullptr) {
            return false;
        }
        const bool bank0_valid = (status & vxr::config_bank0_flag) != 0;
        const std::uint32_t target =
            bank0_valid ? vxr::config_bank1_start : vxr::config_bank0_start;
        const auto mapping = [total, progress](double p) {
            if (progress) {
                progress(p * 32768.0 / total);
            }
        };
        const std::uint32_t target_flag =
            bank0_valid ? vxr::config_bank1_flag : vxr::config_bank0_flag;
        const std::uint32_t other_flag =
            bank0_valid ? vxr::config_bank0_flag : vxr::config_bank1_flag;
        // The old bank is invalidated only once the new copy is complete and confirmed.
        if (!erase_bank_sectors(*this, target) ||
            !write_bank_checked(*this, target, target_flag, *image, vxr::config_bank0_start,
                                vxr::config_size, mapping) ||
            app_handle == nullptr || !invalidate_bank(other_flag)) {
            return false;
        }
    }

    if (plan.fw) {
        report.stage = vxr_stage::fw;
        if (app_handle == nullptr) {
            return false;
        }
        const bool bank0_valid = (status & vxr::fw_bank0_flag) != 0;
        const std::uint32_t target = bank0_valid ? vxr::fw_bank1_start : vxr::fw_bank0_start;
        const std::uint32_t other_flag = bank0_valid ? vxr::fw_bank0_flag : vxr::fw_bank1_flag;
        const auto mapping = [total, config, progress](double p) {
            double x = p * 98304.0;
            if (config) {
                x = x + 32768.0;
            }
            if (progress) {
                progress(x / total);
            }
        };
        if (!erase_bank_sectors(*this, target) ||
            !erase_flash_block(target + vxr::fw_block_offset) ||
            !write_bank_checked(*this, target,
                                bank0_valid ? vxr::fw_bank1_flag : vxr::fw_bank0_flag, *image,
                                vxr::fw_bank0_start, vxr::fw_size, mapping) ||
            !invalidate_bank(other_flag)) {
            return false;
        }
    }

    if (plan.esm) {
        report.stage = vxr_stage::esm;
        if (app_handle == nullptr) {
            return false;
        }
        for (std::uint32_t i = 0; i < vxr::esm_blocks; ++i) {
            if (!erase_flash_block(vxr::esm_start + i * vxr::block_size)) {
                return false;
            }
        }
        const auto mapping = [total, config, fw, progress](double p) {
            double x = p * 262144.0;
            if (config) {
                x = x + 32768.0;
            }
            if (fw) {
                x = x + 98304.0;
            }
            if (progress) {
                progress(x / total);
            }
        };
        if (!write_checked(*this, vxr::esm_start, *image, vxr::esm_start, vxr::esm_size, mapping)) {
            return false;
        }
    }
    report.stage = vxr_stage::done;
    return true;
}

}  // namespace ostrel
