// The bridge tasks: -x erases the bridge's flash, -u brings it in line with a Fullrom image.
#include <cstdio>
#include <string>

#include "app/tasks.h"
#include "app/vxr_progress.h"
#include "device/command_channel.h"
#include "vxr/flash_map.h"
#include "vxr/fullrom.h"

namespace ostrel {
namespace {

// Whether `word` begins with the confirmation word (a longer word is accepted too).
bool confirmed(const std::optional<std::string>& word) {
    return word && word->compare(0, erase_confirmation_length, erase_confirmation) == 0;
}

// Reads the Fullrom file once for its length and refuses what cannot be an image, before
// the device is touched. False when the task is to end.
bool accept_file(run_context& run, const std::string& path) {
    const auto contents = read_file(path);
    if (!contents) {
        run.say("Could not open file");
        return false;
    }
    const std::size_t length = contents->size();
    if (length > vxr::fullrom_file_limit) {
        run.fail("Fullrom file too long: more than " + std::to_string(vxr::fullrom_file_limit) +
                 " bytes found, " + std::to_string(vxr::fullrom_image_size) + " bytes needed");
        return false;
    }
    run.say("length of file: " + std::to_string(length) + " bytes");
    if (length < vxr::fullrom_image_size) {
        run.fail("Fullrom file too short: " + std::to_string(length) + " bytes found, " +
                 std::to_string(vxr::fullrom_image_size) + " bytes needed");
        return false;
    }
    return true;
}

}  // namespace

// compare(0, 9, ...) on a shorter word compares only what is there and finds a difference,
// as strncmp does with a limit of 9.
task_result erase_task(run_context& run, const option_hit& option) {
    run.action_taken = true;
    if (!confirmed(option.value)) {
        return std::nullopt;
    }
    run.say("Deleting VXR7200 firmware");
    if (!run.device.connect_app()) {
        run.fail_to_connect("Could not connect to Ostrel", {app_product_id});
        return 1;
    }
    for (std::uint32_t block = 0; block < vxr::flash_blocks; ++block) {
        if (!run.device.erase_flash_block(block << 16)) {
            run.fail("Failed to delete Flash block " + std::to_string(block));
            return 1;
        }
    }
    run.say("Complete");
    return run.failed() ? 1 : 0;
}

void vxr_progress_printer::operator()(double fraction) {
    if (!(fraction - last_printed_fraction_ > 0.025)) {
        return;
    }
    char text[16];
    static_cast<void>(std::snprintf(text, sizeof text, "%.03f", fraction * 100.0));
    run_.say("VXR firmware progress: " + std::string(text) + "%");
    last_printed_fraction_ = fraction;
}

// -u is the last task: returning nothing ends the run with its status, 1 after any
// failure message.
task_result update_task(run_context& run, const option_hit& option) {
    if (!option.value) {
        run.fail("no filename given with -u option");
        return std::nullopt;
    }
    const std::string& path = *option.value;
    run.say("Loading VXR firmware file: " + path);
    if (!accept_file(run, path)) {
        run.fail("VXR firmware update failed.");
        return std::nullopt;
    }
    // Right after -f restarted the application, it needs time to come back.
    const bool reached =
        run.application_restarting ? run.device.wait_for_app() : run.device.connect_app();
    if (!reached) {
        run.fail_to_connect("Could not connect to Ostrel", {app_product_id});
        return std::nullopt;
    }
    const vxr_update_plan plan = run.device.check_vxr_update(path);
    if (plan.config) {
        run.say("Need to update config");
    }
    if (plan.fw) {
        run.say("Need to update fw");
    }
    if (plan.esm) {
        run.say("Need to update esm");
    }
    if (!plan.config && !plan.fw && !plan.esm) {
        run.say("No update to VXR firmware needed");
        return run.failed() ? 1 : 0;
    }
    vxr_progress_printer printer(run);
    if (run.device.vxr_flash_update(path, [&printer](double fraction) { printer(fraction); })) {
        run.say("VXR firmware update complete!");
    } else {
        run.fail("VXR firmware update failed.");
    }
    return std::nullopt;
}

}  // namespace ostrel
