// The version task of -v, -r and -b, and the return of the device to its application after
// -b took it to its bootloader.
#include "app/advice.h"
#include "app/json_output.h"
#include "app/tasks.h"
#include "device/presence.h"

namespace ostrel {
namespace {

// What one version query needs: the identity that answers it, how it is read, and its
// words.
struct version_query {
    unsigned short identity;
    std::optional<std::string> (device_link::*read)(hid_report& report_buffer);
    const char* connect_failure;
    const char* read_failure;
    const char* label;  // before the version on standard output
    const char* part;   // in the "version" event
};

constexpr version_query queries[] = {
    {app_product_id, &device_link::read_app_version, "could not connect to ostrel",
     "could not read application version", "application version: ", "application"},
    {app_product_id, &device_link::read_bridge_version, "could not connect to ostrel",
     "could not read VXR7200 firmware version", "VXR7200 firmware version: ", "bridge"},
    {bootloader_product_id, &device_link::read_bootloader_version,
     "could not connect to bootloader", "could not read bootloader version",
     "bootloader version: ", "bootloader"},
};

void show_version(run_context& run, const version_query& query) {
    run.action_taken = true;
    const bool boot = query.identity == bootloader_product_id;
    const bool in_bootloader = boot && (run.device.bootloader_open() ||
                                        device_listed({bootloader_product_id}, run.device.place));
    if (boot && run.dry_run && !in_bootloader) {
        run.say(
            "Dry run: would switch the Ostrel to its bootloader to read its version, then start "
            "its application again");
        return;
    }
    const connection result = boot ? run.device.connect_bootloader() : run.device.connect_app();
    if (!result) {
        run.fail_to_connect(query.connect_failure, result);
        return;
    }
    if (boot) {
        run.bootloader_borrowed = !in_bootloader;
    }
    const auto version = (run.device.*query.read)(run.report_buffer);
    if (!version) {
        run.fail(query.read_failure);
        return;
    }
    run.say_bytes(query.label, *version, version_event(query.part, *version));
}

// After -b took the device from its application to its bootloader: starts the application
// again and waits for it.
void give_back_application(run_context& run) {
    run.bootloader_borrowed = false;
    run.device.start_application();
    if (const connection back = run.device.wait_for_app(); !back) {
        run.fail("The application did not start again after the bootloader's version was read.");
        run.advise(connection_advice(back));
    }
}

}  // namespace

task_result version_task(run_context& run, job& job, version_part part) {
    show_version(run, queries[static_cast<std::size_t>(part)]);
    // A load needs the bootloader -b switched to; otherwise the device is given back.
    if (run.bootloader_borrowed && !job.firmware && !run_ends_early()) {
        give_back_application(run);
    }
    return std::nullopt;
}

}  // namespace ostrel
