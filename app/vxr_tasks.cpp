// The bridge tasks: -x erases the bridge's flash, -u brings it in line with a Fullrom image.
#include <cstdio>
#include <string>

#include "app/advice.h"
#include "app/progress_line.h"
#include "app/tasks.h"
#include "app/vxr_progress.h"
#include "vxr/flash_map.h"
#include "vxr/flash_operations.h"
#include "vxr/flash_requests.h"
#include "vxr/fullrom.h"
#include "vxr/update.h"
#include "vxr/update_decision.h"

namespace ostrel {
namespace {

// Why a Fullrom file that could be read cannot be an image, and whether its length is
// shown before the reason; an empty reason when it can be one.
struct file_verdict {
    std::string reason;
    bool length_shown = true;
};

file_verdict judge(const std::string& path, const byte_vector& contents) {
    const std::size_t length = contents.size();
    if (length > vxr::fullrom_file_limit) {
        return {"Fullrom file too long: more than " + std::to_string(vxr::fullrom_file_limit) +
                    " bytes found, " + std::to_string(vxr::fullrom_image_size) + " bytes needed",
                false};
    }
    if (length < vxr::fullrom_image_size) {
        return {"Fullrom file too short: " + std::to_string(length) + " bytes found, " +
                std::to_string(vxr::fullrom_image_size) + " bytes needed"};
    }
    if (const auto refusal = vxr::fullrom_refusal(contents)) {
        return {path + ": " + *refusal};
    }
    return {};
}

// The lines of the -u task up to its plan: the file's name and length, or why it cannot be
// an image. True when it can.
bool announce_file(run_context& run, const update_input& input) {
    run.say("Loading VXR firmware file: " + input.path);
    if (!input.contents) {
        run.say("Could not open file");
        run.fail("VXR firmware update failed.");
        run.advise(file_advice(input.path));
        return false;
    }
    const file_verdict verdict = judge(input.path, *input.contents);
    if (verdict.length_shown) {
        run.say("length of file: " + std::to_string(input.contents->size()) + " bytes");
    }
    if (verdict.reason.empty()) {
        return true;
    }
    run.fail(verdict.reason);
    run.fail("VXR firmware update failed.");
    return false;
}

std::uint64_t bytes_to_write(const vxr_update_plan& plan) {
    return (plan.config ? vxr::config_size : 0) + (plan.fw ? vxr::fw_size : 0) +
           (plan.esm ? vxr::esm_size : 0);
}

// Writes what the plan names, showing progress, and says how it ended.
void write_update(run_context& run, const byte_vector& image, const vxr_update_plan& plan) {
    vxr_progress_printer printer(run);
    job_progress progress(run.out(), run.terminal, "VXR firmware progress: ", bytes_to_write(plan),
                          [&printer](double fraction) { printer(fraction); });
    vxr_update_report report;
    const bool written = vxr_flash_update(
        run.device, image, [&progress](double fraction) { progress(fraction); }, report);
    progress.end(written);
    if (written) {
        run.say("VXR firmware update complete!");
        return;
    }
    run.fail("VXR firmware update failed.");
    run.advise(update_advice(report));
}

}  // namespace

// compare(0, 9, ...) on a shorter word compares only what is there and finds a difference,
// as strncmp does with a limit of 9.
bool erase_confirmed(const std::optional<std::string>& word) {
    return word && word->compare(0, erase_confirmation_length, erase_confirmation) == 0;
}

task_result erase_task(run_context& run, const option_hit& option) {
    run.action_taken = true;
    if (!erase_confirmed(option.value)) {
        return std::nullopt;
    }
    run.say("Deleting VXR7200 firmware");
    if (!run.device.connect_app()) {
        run.fail_to_connect("Could not connect to Ostrel", {app_product_id});
        return 1;
    }
    for (std::uint32_t block = 0; block < vxr::flash_blocks; ++block) {
        if (!vxr::erase_flash_block(run.device, block << 16)) {
            run.fail("Failed to delete Flash block " + std::to_string(block));
            run.advise(erase_advice(block));
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

std::optional<update_input> check_update_input(run_context& run, const option_hit& option) {
    if (!option.value) {
        run.fail("no filename given with -u option");
        return std::nullopt;
    }
    update_input input{*option.value, read_file(*option.value)};
    if (!input.contents || !judge(input.path, *input.contents).reason.empty()) {
        static_cast<void>(announce_file(run, input));  // says why, before anything is sent
        return std::nullopt;
    }
    return input;
}

void refuse_update_after_load(run_context& run) {
    run.fail("VXR firmware update failed.");
    run.advise(
        "Nothing was sent to the bridge: the microcontroller's load did not complete, so its "
        "application must not be started to reach the bridge. Load it with -f FILE, then run "
        "-u again.");
}

// -u is the last task: returning nothing ends the run with its status, 1 after any
// failure message.
task_result update_task(run_context& run, const update_input& input) {
    static_cast<void>(announce_file(run, input));
    if (!run.device.connect_app()) {
        run.fail_to_connect("Could not connect to Ostrel", {app_product_id});
        return std::nullopt;
    }
    const vxr_update_plan plan = check_vxr_update(run.device, *input.contents);
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
    write_update(run, *input.contents, plan);
    return std::nullopt;
}

}  // namespace ostrel
