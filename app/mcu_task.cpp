// The -f task: load an Intel HEX file into the microcontroller through its bootloader, then
// start the application again.
#include <cstdio>
#include <string>

#include "app/mcu_task.h"
#include "app/tasks.h"
#include "mcu/flash_update.h"

namespace ostrel {
namespace {

std::string hex_number(std::uint64_t value) {
    char text[24];
    static_cast<void>(
        std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value)));
    return text;
}

// The lines that say why a load failed, before "Firmware load failed.".
void report_failure(run_context& run, const std::string& path, const mcu_load_report& report) {
    switch (report.failure) {
        case mcu_load_failure::hex_file:
            if (report.hex.defect == hex_defect::cannot_open) {
                run.say("Could not open hex file: " + path);
            } else if (report.hex.line == 0) {
                run.fail("hex file: " + std::string(describe(report.hex.defect)));
            } else {
                run.fail("hex file line " + std::to_string(report.hex.line) + ": " +
                         std::string(describe(report.hex.defect)));
            }
            break;
        case mcu_load_failure::wrong_base_address:
            run.fail("hex image starts at " + hex_number(report.base_address) +
                     ", not at the application start " + hex_number(mcu_application_start));
            break;
        case mcu_load_failure::image_too_large:
            run.fail("hex image of " + std::to_string(report.image_size) +
                     " bytes does not fit the application area of " +
                     std::to_string(mcu_application_size) + " bytes");
            break;
        default:
            break;  // device failures: the closing line says it
    }
}

}  // namespace

void firmware_progress_printer(std::ostream& out, double fraction) {
    // printf's %g: six significant digits, no trailing zeros, no trailing point.
    char number[32];
    static_cast<void>(std::snprintf(number, sizeof number, "%g", fraction * 100.0));
    out << "Firmware progress: " << number << "%" << std::endl;
}

task_result firmware_task(run_context& run, const option_hit& option) {
    run.action_taken = true;
    if (!option.value) {
        run.fail("no filename given with -f option");
        return std::nullopt;
    }
    if (!run.device.connect_bootloader()) {
        run.fail_to_connect("Could not connect to bootloader. Firmware load aborted.",
                            {bootloader_product_id, app_product_id});
        return 1;
    }
    const std::string& path = *option.value;
    run.say("Loading firmware file: " + path);
    std::ostream& out = run.out();
    mcu_load_report report;
    if (!run.device.mcu_flash_update(
            path, [&out](double fraction) { firmware_progress_printer(out, fraction); }, report)) {
        report_failure(run, path, report);
        run.fail("Firmware load failed.");
        return std::nullopt;  // the device stays in its bootloader
    }
    run.say("Firmware load complete!");
    if (hid_device*& handle = run.device.bootloader_handle; handle != nullptr) {
        const hid_report start_application = make_request('B');
        hid_write(handle, start_application.data(), start_application.size());
        hid_close(handle);
        handle = nullptr;
        run.application_restarting = true;
    }
    return std::nullopt;
}

}  // namespace ostrel
