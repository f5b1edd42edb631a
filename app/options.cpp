// The task table and the scan of the command line against it (app/options.h).
#include "app/options.h"

#include <algorithm>

#include "app/tasks.h"

namespace ostrel {
namespace {

task_result application_version(run_context& run, job& job, const option_hit& /*option*/) {
    return version_task(run, job, version_part::application);
}
task_result bridge_version(run_context& run, job& job, const option_hit& /*option*/) {
    return version_task(run, job, version_part::bridge);
}
task_result bootloader_version(run_context& run, job& job, const option_hit& /*option*/) {
    return version_task(run, job, version_part::bootloader);
}

constexpr device_use none = device_use::none;
constexpr device_use device = device_use::always;

// -l lists before the inputs are checked; the versions come before the changes, the erase
// before the load, the load before the bridge update. The value options are in the order
// the scan's message names them.
constexpr task_row rows[] = {
    // {text, takes a value, talks to the device, check, run}
    {"-h", false, none, nullptr, nullptr},
    {"--help", false, none, nullptr, nullptr},
    {"--version", false, none, nullptr, nullptr},
    {"-n", false, none, nullptr, nullptr},
    {"--dry-run", false, none, nullptr, nullptr},
    {"--json", false, none, nullptr, nullptr},
    {"--force", false, none, nullptr, nullptr},
    {"-l", false, none, list_task, nullptr},
    {"-v", false, device, nullptr, application_version},
    {"-r", false, device, nullptr, bridge_version},
    {"-b", false, device, nullptr, bootloader_version},
    {"-x", true, device_use::confirmed, nullptr, erase_task},
    {"-f", true, device, check_firmware_input, firmware_task},
    {"-u", true, device, check_update_input, update_task},
    {"-d", true, none, nullptr, nullptr},
};

const task_row* row_of(const std::string& text) {
    const auto* row = std::find_if(std::begin(rows), std::end(rows),
                                   [&text](const task_row& r) { return text == r.text; });
    return row != std::end(rows) ? row : nullptr;
}

// "-x, -f, -u and -d": the options that take a value.
std::string value_options() {
    std::string names;
    std::size_t left = std::count_if(std::begin(rows), std::end(rows),
                                     [](const task_row& r) { return r.takes_value; });
    for (const task_row& row : rows) {
        if (row.takes_value) {
            --left;
            names += row.text + std::string(left > 1 ? ", " : left == 1 ? " and " : "");
        }
    }
    return names;
}

}  // namespace

std::span<const task_row> task_table() {
    return rows;
}

option_hit find_option(std::span<const std::string> args, const std::string& text) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == text) {
            option_hit hit{true, std::nullopt};
            if (i + 1 < args.size()) {
                hit.value = args[i + 1];
            }
            return hit;
        }
    }
    return {};
}

run_plan read_plan(std::span<const std::string> args) {
    run_plan plan{args, {}};
    // Every element after a value option is a value, even where it looks like an option
    // (and then is one as well): "-f -v" loads the file "-v" and shows the version.
    std::vector<bool> is_value(args.size(), false);
    for (std::size_t i = 1; i + 1 < args.size(); ++i) {
        if (const task_row* row = row_of(args[i]); row != nullptr && row->takes_value) {
            is_value[i + 1] = true;
            if (const option_hit first = find_option(args, args[i]); first.value != args[i + 1]) {
                plan.problems.push_back(args[i] + " is given twice with different values (" +
                                        *first.value + ", " + args[i + 1] + "): give it once");
            }
        }
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (is_value[i] || row_of(arg) != nullptr) {
            continue;
        }
        plan.problems.push_back(arg.size() > 1 && arg.front() == '-'
                                    ? "unknown option " + arg
                                    : "unexpected argument " + arg + ": only " + value_options() +
                                          " take a value");
    }
    return plan;
}

}  // namespace ostrel
