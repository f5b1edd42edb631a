#include "app/advice.h"
#include "app/json_output.h"
#include "app/stop_signals.h"
#include "app/tasks.h"
#include "base/stop_request.h"

namespace ostrel {

void run_context::emit(const json_event& event) {
    out_ << json_line(event) << std::endl;
}

void run_context::say(std::string_view line) {
    json_event event = make_event("message");
    event["text"] = line;
    say(line, event);
}

void run_context::say(std::string_view line, const json_event& event) {
    if (json) {
        emit(event);
    } else {
        out_ << line << std::endl;
    }
}

void run_context::say_bytes(std::string_view text, std::string_view bytes,
                            const json_event& event) {
    if (json) {
        emit(event);
        return;
    }
    out_ << text;
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out_ << std::endl;
}

void run_context::tell(const json_event& event) {
    if (json) {
        emit(event);
    }
}

void run_context::conclude(std::string_view task, bool succeeded, std::string_view line) {
    json_event event = make_event("result");
    event["task"] = task;
    event["ok"] = succeeded;
    event["text"] = line;
    if (!succeeded && !json) {
        fail(line);
        return;
    }
    failed_ = failed_ || !succeeded;
    say(line, event);
}

void run_context::progress(std::string_view task, double fraction, std::uint64_t total,
                           std::string_view line) {
    if (!json) {
        if (!line.empty()) {
            out_ << line << std::endl;
        }
        return;
    }
    const auto done = static_cast<std::uint64_t>(fraction * static_cast<double>(total));
    if (task == progress_task_ && done == progress_done_) {
        return;
    }
    progress_task_ = task;
    progress_done_ = done;
    json_event event = make_event("progress");
    event["task"] = task;
    event["done"] = done;
    event["total"] = total;
    emit(event);
}

void run_context::fail(std::string_view line) {
    failed_ = true;
    if (json) {
        json_event event = make_event("failure");
        event["text"] = line;
        emit(event);
    } else {
        err_ << line << std::endl;
    }
}

void run_context::advise(std::string_view line) {
    if (json) {
        json_event event = make_event("advice");
        event["text"] = line;
        emit(event);
    } else {
        err_ << line << std::endl;
    }
}

void run_context::fail_to_connect(std::string_view line,
                                  std::initializer_list<unsigned short> tried) {
    fail(line);
    advise(connection_advice(device, tried));
}

namespace {

// Whether the plan has a task that talks to the device.
bool talks_to_device(const run_plan& plan) {
    return plan.app_version || plan.bridge_version || plan.boot_version ||
           (plan.erase.found && erase_confirmed(plan.erase.value)) || plan.firmware.found ||
           plan.update.found;
}

const char* identity_name(unsigned short product_id) {
    return product_id == bootloader_product_id ? "bootloader" : "application";
}

// Whether a signal asked the run to end once the task in hand is done.
bool run_ends_early() {
    return stop_requested() != 0 || hung_up();
}

// The device's part of the run, its inputs checked: claims the device and runs the tasks in
// their fixed order. A task that a signal cut short, or that ran while the user went away,
// is the last.
int run_tasks(run_context& run, std::span<const std::string> args, const run_plan& plan,
              const std::optional<firmware_input>& firmware,
              const std::optional<update_input>& update) {
    const stop_signals stop_on_signal;
    device_locks locks;
    if (talks_to_device(plan) && !claim_device(run, args, locks)) {
        return 1;
    }
    using version_task = void (*)(run_context&);
    const std::pair<bool, version_task> versions[] = {
        {plan.app_version, application_version_task},
        {plan.bridge_version, bridge_version_task},
        {plan.boot_version, bootloader_version_task},
    };
    for (const auto& [asked, task] : versions) {
        if (asked && !run_ends_early()) {
            task(run);
        }
    }
    // A load needs the bootloader -b switched to; otherwise the device is given back.
    if (run.bootloader_borrowed && !firmware && !run_ends_early()) {
        give_back_application(run);
    }
    if (plan.erase.found && !run_ends_early()) {
        if (const task_result end = erase_task(run, plan.erase)) {
            return *end;
        }
    }
    bool loaded = true;
    if (firmware && !run_ends_early()) {
        if (const task_result end = firmware_task(run, *firmware, loaded)) {
            return *end;
        }
    }
    if (run_ends_early()) {
        return 1;  // nothing after a task a signal ended runs
    }
    if (update && !loaded) {
        refuse_update_after_load(run);
    } else if (update) {
        if (const task_result end = update_task(run, *update)) {
            return *end;
        }
    } else if (!run.action_taken) {
        run.say(usage_line);
    }
    return run.failed() ? 1 : 0;
}

// Reads the command line into its tasks and checks every input of every task; only then does
// anything go to the device.
int plan_and_run(run_context& run, std::span<const std::string> args, const run_plan& plan) {
    if (plan.help) {
        for (const char* line : help_lines) {
            run.say(line);
        }
        return 0;
    }
    if (plan.version && plan.problems.empty()) {
        run.say(std::string("ostrel_firmware_update ") + OSTREL_PROGRAM_VERSION,
                version_event("program", OSTREL_PROGRAM_VERSION));
        const std::string hidapi = hidapi_version();
        run.say("hidapi " + hidapi, version_event("hidapi", hidapi));
        return 0;
    }
    run.dry_run = plan.dry_run;
    run.force = plan.force;
    if (!plan.problems.empty()) {
        for (const std::string& problem : plan.problems) {
            run.fail(problem);
        }
        run.say(usage_line);
        return 1;
    }
    if (plan.erase.found && erase_confirmed(plan.erase.value) &&
        (plan.firmware.found || plan.update.found)) {
        run.fail(
            "-x erases the whole bridge flash and does not run with -f or -u: nothing was "
            "sent. Run the erase, then the update, one after the other.");
        return 1;
    }
    if (plan.list) {
        list_task(run);
    }
    std::optional<firmware_input> firmware;
    std::optional<update_input> update;
    if (plan.firmware.found) {
        firmware = check_firmware_input(run, plan.firmware);
    }
    if (plan.update.found) {
        update = check_update_input(run, plan.update);
    }
    if ((plan.firmware.found && !firmware) || (plan.update.found && !update)) {
        return 1;  // a refused input: nothing is sent
    }
    return run_tasks(run, args, plan, firmware, update);
}

}  // namespace

int run_cli(std::span<const std::string> args, std::ostream& out, std::ostream& err,
            bool terminal) {
    const run_plan plan = read_plan(args);
    run_context run(out, err, terminal, plan.json);
    if (run.terminal) {
        run.device.on_wait = [&run](unsigned short product_id) {
            run.say(std::string("Waiting up to 15 s for the Ostrel to come back as its ") +
                    identity_name(product_id) + "...");
        };
    }
    json_event start = make_event("start");
    start["schema"] = json_schema;
    start["program"] = "ostrel_firmware_update";
    start["version"] = OSTREL_PROGRAM_VERSION;
    run.tell(start);
    const int status = plan_and_run(run, args, plan);
    json_event end = make_event("end");
    end["status"] = status;
    run.tell(end);
    if (!run.output_lost()) {
        return status;
    }
    // The job was not cut short for it, but what the run said did not all get through.
    if (!err.fail()) {
        err << "Output was lost: standard output could not be written to its end. The tasks "
               "ran to their end; the status is 1 because their messages are incomplete."
            << std::endl;
    }
    return 1;
}

}  // namespace ostrel
