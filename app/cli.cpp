// The run: run_context's output in text lines or JSON events, and run_cli, which reads the
// command line against the task table, runs every check before anything is sent, claims the
// device and runs the tasks in the table's order.
#include "app/advice.h"
#include "app/json_output.h"
#include "app/stop_signals.h"
#include "app/tasks.h"
#include "base/stop_request.h"

#include <algorithm>

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

void run_context::fail_to_connect(std::string_view line, const connection& result) {
    fail(line);
    advise(connection_advice(result));
}

bool run_ends_early() {
    return stop_requested() != 0 || hung_up();
}

namespace {

// Whether the plan has a task that talks to the device.
bool talks_to_device(const run_plan& plan) {
    return std::ranges::any_of(task_table(), [&plan](const task_row& row) {
        const option_hit hit = find_option(plan.args, row.text);
        return hit.found && (row.device == device_use::always ||
                             (row.device == device_use::confirmed && erase_confirmed(hit.value)));
    });
}

const char* identity_name(unsigned short product_id) {
    return product_id == bootloader_product_id ? "bootloader" : "application";
}

// The device's part of the run, its inputs checked: claims the device and runs the tasks in
// the table's order. A task that a signal cut short, or that ran while the user went away,
// is the last.
int run_tasks(run_context& run, const run_plan& plan, job& job) {
    const stop_signals stop_on_signal;
    device_locks locks;
    if (talks_to_device(plan) && !claim_device(run, plan.args, locks)) {
        return 1;
    }
    for (const task_row& row : task_table()) {
        const option_hit hit = find_option(plan.args, row.text);
        if (row.run == nullptr || !hit.found) {
            continue;
        }
        if (run_ends_early()) {
            return 1;  // nothing after a task a signal ended runs
        }
        if (const task_result end = row.run(run, job, hit)) {
            return *end;
        }
    }
    if (run_ends_early()) {
        return 1;
    }
    if (!run.action_taken) {
        run.say(usage_line);
    }
    return run.failed() ? 1 : 0;
}

// The lines of -h and --version, which end the run before anything else: -h whatever else
// is given, --version when the command line is good. Nothing when neither is to be shown.
std::optional<int> show_help_or_version(run_context& run, const run_plan& plan) {
    if (plan.given("-h") || plan.given("--help")) {
        for (const char* line : help_lines) {
            run.say(line);
        }
        return 0;
    }
    if (plan.given("--version") && plan.problems.empty()) {
        run.say(std::string("ostrel_firmware_update ") + OSTREL_PROGRAM_VERSION,
                version_event("program", OSTREL_PROGRAM_VERSION));
        const std::string hidapi = hidapi_version();
        run.say("hidapi " + hidapi, version_event("hidapi", hidapi));
        return 0;
    }
    return std::nullopt;
}

// Checks the command line as a whole and then, in the table's order, every input of every
// task; only then does anything go to the device.
int plan_and_run(run_context& run, const run_plan& plan) {
    if (const auto shown = show_help_or_version(run, plan)) {
        return *shown;
    }
    run.dry_run = plan.given("-n") || plan.given("--dry-run");
    run.force = plan.given("--force");
    if (!plan.problems.empty()) {
        for (const std::string& problem : plan.problems) {
            run.fail(problem);
        }
        run.say(usage_line);
        return 1;
    }
    if (erase_confirmed(find_option(plan.args, "-x").value) &&
        (plan.given("-f") || plan.given("-u"))) {
        run.fail(
            "-x erases the whole bridge flash and does not run with -f or -u: nothing was "
            "sent. Run the erase, then the update, one after the other.");
        return 1;
    }
    job job;
    task_result refused;
    for (const task_row& row : task_table()) {
        const option_hit hit = find_option(plan.args, row.text);
        if (row.check != nullptr && hit.found) {
            if (const task_result status = row.check(run, job, hit)) {
                refused = status;
            }
        }
    }
    if (refused) {
        return *refused;  // a refused input: nothing is sent
    }
    return run_tasks(run, plan, job);
}

}  // namespace

int run_cli(std::span<const std::string> args, std::ostream& out, std::ostream& err,
            bool terminal) {
    const run_plan plan = read_plan(args);
    run_context run(out, err, terminal, plan.given("--json"));
    if (run.terminal) {
        run.device.on_wait = [&run](unsigned short product_id) {
            run.say("Waiting up to " + std::to_string(return_limit_ms / 1000) +
                    " s for the Ostrel to come back as its " + identity_name(product_id) + "...");
        };
    }
    json_event start = make_event("start");
    start["schema"] = json_schema;
    start["program"] = "ostrel_firmware_update";
    start["version"] = OSTREL_PROGRAM_VERSION;
    run.tell(start);
    const int status = plan_and_run(run, plan);
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
