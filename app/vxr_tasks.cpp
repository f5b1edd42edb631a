// The bridge tasks: -x erases the bridge's flash, -u brings it in line with a Fullrom image.
#include <cstdio>
#include <string>

#include "app/advice.h"
#include "app/json_output.h"
#include "app/progress_line.h"
#include "app/tasks.h"
#include "app/vxr_progress.h"
#include "base/stop_request.h"
#include "vxr/flash_map.h"
#include "vxr/flash_operations.h"
#include "vxr/flash_requests.h"
#include "vxr/fullrom.h"
#include "vxr/update.h"
#include "vxr/update_decision.h"

namespace ostrel {
namespace {

// Why a Fullrom file that was read, or refused as too long to be read, cannot be an image,
// and whether its length is shown before the reason; an empty reason when it can be one.
struct file_verdict {
    std::string reason;
    bool length_shown = true;
};

file_verdict judge(const std::string& path, const input_file& file) {
    if (file.failure.problem == input_problem::too_large) {
        return {"Fullrom file too long: more than " + std::to_string(vxr::fullrom_file_limit) +
                    " bytes found, " + std::to_string(vxr::fullrom_image_size) + " bytes needed",
                false};
    }
    const std::size_t length = file->size();
    if (length < vxr::fullrom_image_size) {
        return {"Fullrom file too short: " + std::to_string(length) + " bytes found, " +
                std::to_string(vxr::fullrom_image_size) + " bytes needed"};
    }
    if (const auto refusal = vxr::fullrom_refusal(*file)) {
        return {path + ": " + *refusal};
    }
    return {};
}

// The lines of the -u task up to its plan: the file's name and length, or why it cannot be
// an image. True when it can.
bool announce_file(run_context& run, const update_input& input) {
    run.say("Loading VXR firmware file: " + input.path);
    if (!input.contents && input.contents.failure.problem != input_problem::too_large) {
        run.say("Could not open file");
        run.conclude(bridge_update_task, false, "VXR firmware update failed.");
        run.advise(file_advice(input.path, input.contents.failure));
        return false;
    }
    const file_verdict verdict = judge(input.path, input.contents);
    if (verdict.length_shown) {
        run.say("length of file: " + std::to_string(input.contents->size()) + " bytes");
    }
    if (verdict.reason.empty()) {
        return true;
    }
    run.fail(verdict.reason);
    run.conclude(bridge_update_task, false, "VXR firmware update failed.");
    return false;
}

std::uint64_t bytes_to_write(const vxr::update_plan& plan) {
    return (plan.config ? vxr::config_size : 0) + (plan.fw ? vxr::fw_size : 0) +
           (plan.esm ? vxr::esm_size : 0);
}

std::string hex5(std::uint32_t value) {
    char text[16];
    static_cast<void>(std::snprintf(text, sizeof text, "0x%05X", static_cast<unsigned>(value)));
    return text;
}

// -n: the banks the update would write, from the bank status the device gives now.
void describe_update(run_context& run, const vxr::update_plan& plan) {
    const auto status = vxr::query_bank_status(run.device);
    if (!status) {
        run.fail("could not read the bridge's bank status: the update would stop there");
        return;
    }
    const std::pair<bool, const vxr::flash_region*> regions[] = {
        {plan.config, &vxr::config_region},
        {plan.fw, &vxr::fw_region},
        {plan.esm, &vxr::esm_region},
    };
    for (const auto& [wanted, region] : regions) {
        if (!wanted) {
            continue;
        }
        const std::string size = std::to_string(region->size) + " bytes";
        const std::uint8_t both = region->flag[0] | region->flag[1];
        if (both == 0) {
            run.say("Dry run: would rewrite the " + std::string(region->name) + " region at " +
                    hex5(region->start[0]) + " in place (" + size + ", one copy only)");
        } else if ((*status & both) == both) {
            run.say("Dry run: both " + std::string(region->name) +
                    " banks claim to be valid: would compare each with the image, keep the one "
                    "that holds it, or else write bank 1 (" +
                    size + ")");
        } else {
            const std::size_t target = (*status & region->flag[0]) != 0 ? 1 : 0;
            run.say("Dry run: would write " + std::string(region->name) + " bank " +
                    std::to_string(target) + " at " + hex5(region->start[target]) + " (" + size +
                    "), then invalidate bank " + std::to_string(1 - target));
        }
    }
    run.say("Dry run: " + std::to_string(bytes_to_write(plan)) +
            " bytes to write; nothing was sent that changes the device");
}

// "Need to update REGION" for each region the plan names; a "plan" event. False when it
// names none.
bool announce_plan(run_context& run, const vxr::update_plan& plan) {
    json_event event = make_event("plan");
    event["task"] = bridge_update_task;
    event["regions"] = json_event::array();
    event["bytes"] = bytes_to_write(plan);
    std::string lines;
    const std::pair<bool, const char*> regions[] = {
        {plan.config, "config"}, {plan.fw, "fw"}, {plan.esm, "esm"}};
    for (const auto& [needed, name] : regions) {
        if (needed) {
            lines += (lines.empty() ? "Need to update " : "\nNeed to update ") + std::string(name);
            event["regions"].push_back(name);
        }
    }
    if (lines.empty()) {
        run.tell(event);
        return false;
    }
    run.say(lines, event);
    return true;
}

// Writes what the plan names, showing progress, and says how it ended.
void write_update(run_context& run, const byte_vector& image, const vxr::update_plan& plan) {
    const std::uint64_t total = bytes_to_write(plan);
    vxr_progress_printer printer(run, total);
    job_progress progress(run.out(), run.terminal, "VXR firmware progress: ", total,
                          [&printer](double fraction) { printer(fraction); });
    vxr::update_report report;
    const bool written = vxr::flash_update(
        run.device, image, [&progress](double fraction) { progress(fraction); }, report, run.force);
    progress.end(written);
    if (written) {
        run.progress(bridge_update_task, 1.0, total, "");  // the last, in the events alone
        run.conclude(bridge_update_task, true, "VXR firmware update complete!");
        return;
    }
    run.conclude(bridge_update_task, false, "VXR firmware update failed.");
    run.advise(update_advice(report, stop_requested() != 0));
}

}  // namespace

// compare(0, 9, ...) on a shorter word compares only what is there and finds a difference,
// as strncmp does with a limit of 9.
bool erase_confirmed(const std::optional<std::string>& word) {
    return word && word->compare(0, vxr::erase_confirmation_length, vxr::erase_confirmation) == 0;
}

task_result erase_task(run_context& run, job& /*job*/, const option_hit& option) {
    run.action_taken = true;
    if (!erase_confirmed(option.value)) {
        return std::nullopt;
    }
    if (!run.dry_run) {
        run.say("Deleting VXR7200 firmware");
    }
    if (const connection result = run.device.connect_app(); !result) {
        run.fail_to_connect("Could not connect to Ostrel", result);
        return 1;
    }
    if (run.dry_run) {
        run.say(
            "Dry run: would erase the whole bridge flash: its 8 blocks of 64 KiB, 0x00000 "
            "to 0x7FFFF");
        return std::nullopt;
    }
    if (const std::uint32_t erased = vxr::erase_whole_flash(run.device);
        erased < vxr::flash_blocks) {
        run.conclude(bridge_erase_task, false,
                     "Failed to delete Flash block " + std::to_string(erased));
        run.advise(erase_advice(erased, stop_requested() != 0));
        return 1;
    }
    run.conclude(bridge_erase_task, true, "Complete");
    return run.failed() ? 1 : 0;
}

void vxr_progress_printer::operator()(double fraction) {
    if (!(fraction - last_printed_fraction_ > 0.025)) {
        return;
    }
    char text[16];
    static_cast<void>(std::snprintf(text, sizeof text, "%.03f", fraction * 100.0));
    run_.progress(bridge_update_task, fraction, total_bytes_,
                  "VXR firmware progress: " + std::string(text) + "%");
    last_printed_fraction_ = fraction;
}

task_result check_update_input(run_context& run, job& job, const option_hit& option) {
    if (!option.value) {
        run.fail("no filename given with -u option");
        return 1;
    }
    update_input input{*option.value, read_input(*option.value, vxr::fullrom_file_limit)};
    if (!input.contents || !judge(input.path, input.contents).reason.empty()) {
        static_cast<void>(announce_file(run, input));  // says why, before anything is sent
        return 1;
    }
    job.update = std::move(input);
    return std::nullopt;
}

namespace {

// The update of a checked image: its plan, then the dry run's words or the writing.
void update_bridge(run_context& run, const update_input& input) {
    static_cast<void>(announce_file(run, input));
    if (const connection result = run.device.connect_app(); !result) {
        run.fail_to_connect("Could not connect to Ostrel", result);
        return;
    }
    vxr::update_plan plan = vxr::check_update(run.device, *input.contents);
    if (run.force) {
        plan = {true, true, true};  // whatever the sums say: they cannot see reordered bytes
    }
    if (!announce_plan(run, plan)) {
        run.conclude(bridge_update_task, true, "No update to VXR firmware needed");
    } else if (run.dry_run) {
        describe_update(run, plan);
    } else {
        write_update(run, *input.contents, plan);
    }
}

}  // namespace

// -u is the last task: it ends the run with its status, 1 after any failure message.
task_result update_task(run_context& run, job& job, const option_hit& /*option*/) {
    run.action_taken = true;
    if (!job.loaded) {
        run.conclude(bridge_update_task, false, "VXR firmware update failed.");
        run.advise(
            "Nothing was sent to the bridge: the microcontroller's load did not complete, so "
            "its application must not be started to reach the bridge. Load it with -f FILE, "
            "then run -u again.");
    } else {
        update_bridge(run, *job.update);
    }
    return run.failed() ? 1 : 0;
}

}  // namespace ostrel
