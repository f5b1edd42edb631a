// The microcontroller load: reading and checking the image of a HEX file, the erase plan,
// and the pages written through the bootloader.
#include "mcu/flash_update.h"

#include <algorithm>

#include "mcu/bootloader_commands.h"
#include "mcu/bootloader_frames.h"

namespace ostrel {
namespace {

bool failed(mcu_load_report& report, mcu_load_failure failure) {
    report.failure = failure;
    return false;
}

// Sends the plan's requests in order; false at the first that fails.
bool run_erase_plan(device_link& link, const std::vector<mcu_erase_request>& plan) {
    for (const mcu_erase_request& request : plan) {
        bool ok = false;
        switch (request.mode) {
            case erase_mode_sector:
                ok = mcu_erase_sector(link, request.address);
                break;
            case erase_mode_16k:
                ok = mcu_erase_16k(link, request.address);
                break;
            default:
                ok = mcu_erase_tail(link, request.address);
                break;
        }
        if (!ok) {
            return false;
        }
    }
    return !plan.empty();
}

// Whether the image starts at the application start and fits the application area.
bool fits_application_area(const hex_image& image, mcu_load_report& report) {
    report.base_address = image.base_address;
    report.image_size = image.data.size();
    if (image.base_address != mcu_application_start) {
        return failed(report, mcu_load_failure::wrong_base_address);
    }
    if (image.data.size() > mcu_application_size) {
        return failed(report, mcu_load_failure::image_too_large);
    }
    return true;
}

}  // namespace

std::vector<mcu_erase_request> plan_mcu_erase(std::size_t size) {
    std::vector<mcu_erase_request> plan;
    std::uint32_t address = mcu_application_start;
    std::size_t remaining = size;
    for (const std::uint32_t sector : mcu_sector_table) {
        if (remaining > sector) {
            plan.push_back({erase_mode_sector, address});
            address += sector;
            remaining -= sector;
        } else if (remaining > 0) {
            // The image ends in this sector: 16 KiB steps, then its last 1 to 16 KiB.
            for (; remaining > mcu_erase_step; remaining -= mcu_erase_step) {
                plan.push_back({erase_mode_16k, address});
                address += mcu_erase_step;
            }
            plan.push_back({erase_mode_tail, address});
            remaining = 0;
        }
    }
    return plan;
}

std::optional<hex_image> read_mcu_image(const std::string& path, mcu_load_report& report) {
    report = {};
    hex_image image;
    if (!read_intel_hex(image, path, report.hex)) {
        failed(report, mcu_load_failure::hex_file);
        return std::nullopt;
    }
    if (!fits_application_area(image, report)) {
        return std::nullopt;
    }
    return image;
}

bool mcu_flash_update(device_link& link, const hex_image& image, const progress_callback& progress,
                      mcu_load_report& report) {
    report = {};
    if (!fits_application_area(image, report)) {
        return false;
    }
    if (!link.bootloader_open()) {
        return failed(report, mcu_load_failure::no_bootloader);
    }
    // An empty image erases with the fallback; so does any failed erase request. What was
    // erased before a failure is not erased again.
    if (!run_erase_plan(link, plan_mcu_erase(image.data.size()))) {
        report.fallback_erase = true;
        if (!mcu_fallback_erase(link)) {
            return failed(report, mcu_load_failure::erase_failed);
        }
    }
    const std::size_t size = image.data.size();
    byte_vector page;
    page.reserve(mcu_page_size);
    for (std::size_t offset = 0; offset < size; offset += mcu_page_size) {
        const auto first = image.data.begin() + static_cast<std::ptrdiff_t>(offset);
        page.assign(first,
                    first + static_cast<std::ptrdiff_t>(std::min(mcu_page_size, size - offset)));
        page.resize(mcu_page_size, mcu_pad_byte);
        const auto address = mcu_application_start + static_cast<std::uint32_t>(offset);
        if (!mcu_write_page(link, address, page)) {
            return failed(report, mcu_load_failure::page_refused);
        }
        report.bytes_written = std::min(size, offset + mcu_page_size);
        if (progress) {
            progress(static_cast<double>(offset) / static_cast<double>(size));
        }
    }
    return true;
}

}  // namespace ostrel
