// The -f task: load an Intel HEX file into the microcontroller through its bootloader, then
// start the application again.
#include <cstdio>
#include <string>

#include "app/advice.h"
#include "app/json_output.h"
#include "app/mcu_task.h"
#include "app/progress_line.h"
#include "app/tasks.h"
#include "base/stop_request.h"
#include "device/presence.h"
#include "mcu/bootloader_frames.h"
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

// A file that was refused: the lines of a failed load, with the device left as it was.
// Without a device, the lines of a run without one, as they always were.
void refuse_file(run_context& run, const std::string& path, const mcu_load_report& report) {
    if (!device_listed({bootloader_product_id, app_product_id}, run.device.place)) {
        run.fail_to_connect("Could not connect to bootloader. Firmware load aborted.",
                            {link_outcome::absent, bootloader_product_id});
        return;
    }
    run.say("Loading firmware file: " + path);
    report_failure(run, path, report);
    run.conclude(mcu_load_task, false, "Firmware load failed.");
    const hex_defect defect = report.hex.defect;
    if (report.failure == mcu_load_failure::hex_file &&
        (defect == hex_defect::cannot_open || defect == hex_defect::read_error)) {
        run.advise(file_advice(path, report.hex.file));
    } else {
        run.advise("Nothing was sent to the Ostrel: check that " + path +
                   " is the microcontroller's firmware.");
    }
}

// The plan of a load: the file and the image's size.
json_event load_plan(const std::string& path, const hex_image& image) {
    json_event event = make_event("plan");
    event["task"] = mcu_load_task;
    event["file"] = path;
    event["bytes"] = image.data.size();
    return event;
}

// Loads the checked image, showing progress, and starts the application after it. True when
// the application is back.
bool load(run_context& run, const std::string& path, const hex_image& image) {
    run.say("Loading firmware file: " + path, load_plan(path, image));
    const std::uint64_t total = image.data.size();
    job_progress progress(
        run.out(), run.terminal, "Firmware progress: ", total, [&run, total](double fraction) {
            run.progress(mcu_load_task, fraction, total, firmware_progress_line(fraction));
        });
    mcu_load_report report;
    const bool loaded = mcu_flash_update(
        run.device, image, [&progress](double fraction) { progress(fraction); }, report);
    progress.end(loaded);
    if (!loaded) {
        report_failure(run, path, report);
        run.conclude(mcu_load_task, false, "Firmware load failed.");
        run.advise(load_advice(report, stop_requested() != 0));
        return false;  // the device stays in its bootloader
    }
    run.progress(mcu_load_task, 1.0, total, "");  // the last, in the events alone
    run.conclude(mcu_load_task, true, "Firmware load complete!");
    run.device.start_application();
    const connection back = run.device.wait_for_app();
    if (back) {
        return true;
    }
    run.fail("The application did not start after the load.");
    if (device_listed({bootloader_product_id}, run.device.place)) {
        run.advise(
            "The Ostrel stayed in its bootloader with the new firmware loaded: unplug it and "
            "plug it back in to start it.");
    } else {
        run.advise(connection_advice(back));
    }
    return false;
}

}  // namespace

std::string firmware_progress_line(double fraction) {
    // printf's %g: six significant digits, no trailing zeros, no trailing point.
    char number[32];
    static_cast<void>(std::snprintf(number, sizeof number, "%g", fraction * 100.0));
    return std::string("Firmware progress: ") + number + "%";
}

task_result check_firmware_input(run_context& run, job& job, const option_hit& option) {
    run.action_taken = true;
    if (!option.value) {
        run.fail("no filename given with -f option");
        return 1;
    }
    mcu_load_report report;
    std::optional<hex_image> image = read_mcu_image(*option.value, report);
    if (!image) {
        refuse_file(run, *option.value, report);
        return 1;
    }
    job.firmware = firmware_input{*option.value, std::move(*image)};
    return std::nullopt;
}

namespace {

// -n: what the load would send, from the checked image and where the device is now.
task_result describe_load(run_context& run, const firmware_input& input) {
    const bool in_bootloader =
        run.device.bootloader_open() || device_listed({bootloader_product_id}, run.device.place);
    if (!in_bootloader && !device_listed({app_product_id}, run.device.place)) {
        run.fail_to_connect("Could not connect to bootloader. Firmware load aborted.",
                            {link_outcome::absent, bootloader_product_id});
        return 1;
    }
    const std::size_t size = input.image.data.size();
    run.tell(load_plan(input.path, input.image));
    run.say("Dry run: would load " + input.path +
            " into the microcontroller: " + std::to_string(size) + " bytes in " +
            std::to_string((size + mcu_page_size - 1) / mcu_page_size) + " pages of " +
            std::to_string(mcu_page_size) + " bytes from " + hex_number(mcu_application_start));
    std::string erases;
    for (const mcu_erase_request& request : plan_mcu_erase(size)) {
        erases += erases.empty() ? "" : ", ";
        erases += request.mode == erase_mode_sector ? "the sector at "
                  : request.mode == erase_mode_16k  ? "16 KiB at "
                                                    : "the last bytes from ";
        erases += hex_number(request.address);
    }
    run.say(
        "Dry run: would erase " +
        (erases.empty() ? std::string("the whole application area (the image is empty)") : erases));
    run.say(in_bootloader ? "Dry run: the Ostrel is in its bootloader; it would start its "
                            "application after the load"
                          : "Dry run: would switch the Ostrel to its bootloader first, and start "
                            "its application again after the load");
    return std::nullopt;
}

}  // namespace

task_result firmware_task(run_context& run, job& job, const option_hit& /*option*/) {
    const firmware_input& input = *job.firmware;
    job.loaded = false;
    if (run.dry_run) {
        job.loaded = true;
        return describe_load(run, input);
    }
    if (const connection result = run.device.connect_bootloader(); !result) {
        run.fail_to_connect("Could not connect to bootloader. Firmware load aborted.", result);
        return 1;
    }
    job.loaded = load(run, input.path, input.image);
    return std::nullopt;
}

}  // namespace ostrel
