// The advice that follows a failure on standard error: why it happened, where the device
// stands now, and what to do next.
#include "app/advice.h"

#include <cstdio>

#include "device/presence.h"
#include "mcu/flash_update.h"
#include "vxr/update.h"

namespace ostrel {
namespace {

std::string usb_id(unsigned short product_id) {
    char text[16];
    static_cast<void>(std::snprintf(text, sizeof text, "%04x:%04x",
                                    static_cast<unsigned>(device_vendor_id),
                                    static_cast<unsigned>(product_id)));
    return text;
}

std::string identity(unsigned short product_id) {
    return (product_id == bootloader_product_id ? "its bootloader (USB id "
                                                : "its application (USB id ") +
           usb_id(product_id) + ")";
}

}  // namespace

std::string connection_advice(const connection& result) {
    switch (result.outcome) {
        case link_outcome::stopped:
            return "Interrupted while waiting for the Ostrel to restart as " +
                   identity(result.product_id) +
                   ": run the same command again, or unplug it and plug it back in.";
        case link_outcome::not_back:
            return "The Ostrel left USB to restart as " + identity(result.product_id) +
                   " and did not come back within " + std::to_string(return_limit_ms / 1000) +
                   " s: unplug it, plug it back in and try again.";
        case link_outcome::no_access:
            return std::string("The Ostrel is connected but cannot be opened: ") +
                   open_blocker_hint();
        case link_outcome::other_identity:
            return "The Ostrel waits in " + identity(bootloader_product_id) +
                   ": load its firmware with -f FILE, or unplug it and plug it back in.";
        case link_outcome::opened:
        case link_outcome::absent:
            break;
    }
    return "No Ostrel found: looked for USB ids " + usb_id(app_product_id) + " (application) and " +
           usb_id(bootloader_product_id) +
           " (bootloader). Check the cable; the vendor id is set when the program is built "
           "(OSTREL_VENDOR_ID) and must be the maker's.";
}

std::string file_advice(const std::string& path, const input_failure& failure) {
    return path + ": " + describe(failure) + ". Nothing was sent to the Ostrel.";
}

std::string load_advice(const mcu_load_report& report, bool interrupted) {
    const char* how = interrupted ? "was interrupted" : "stopped";
    if (report.failure == mcu_load_failure::erase_failed) {
        return std::string("The load ") + how +
               " while erasing: the Ostrel waits in its bootloader with its application area "
               "partly erased. Run the same -f again.";
    }
    const double percent = report.image_size == 0
                               ? 0.0
                               : 100.0 * static_cast<double>(report.bytes_written) /
                                     static_cast<double>(report.image_size);
    char text[64];
    static_cast<void>(std::snprintf(text, sizeof text, "%.0f %% (%zu of %zu bytes)", percent,
                                    report.bytes_written, report.image_size));
    return std::string("The load ") + how + " at " + text +
           ": the Ostrel waits in its bootloader with an incomplete application. Run the same "
           "-f again to load it whole.";
}

std::string erase_advice(std::uint32_t block, bool interrupted) {
    const std::string how = interrupted ? "The erase was interrupted" : "The erase stopped";
    if (block == 0) {
        return how + " before block 0: the bridge's flash is unchanged.";
    }
    return how + " after block " + std::to_string(block - 1) + ": blocks 0 to " +
           std::to_string(block - 1) +
           " of 7 are erased and the bridge holds no whole "
           "firmware. Run the same -x again, or -u FILE to write an image.";
}

std::string update_advice(const vxr::update_report& report, bool interrupted) {
    const std::string how = interrupted ? "The update was interrupted" : "The update stopped";
    using vxr::held_copy;
    if (!report.written && report.config == held_copy::old_copy &&
        report.fw == held_copy::old_copy) {
        return how + " before anything was written: the bridge is unchanged.";
    }
    const auto held = [](held_copy copy) {
        switch (copy) {
            case held_copy::new_copy:
                return "new copy valid";
            case held_copy::both:
                return "old and new copies may both be valid (the bridge picks; the next run "
                       "settles it)";
            case held_copy::old_copy:
                break;
        }
        return "old copy valid";
    };
    return how + ". Config: " + held(report.config) + "; firmware: " + held(report.fw) +
           (report.esm_incomplete ? "; esm region: incomplete. Run the same -u again before the "
                                    "Ostrel restarts."
                                  : "; esm region: unchanged. Run the same -u again to finish "
                                    "the update.");
}

}  // namespace ostrel
