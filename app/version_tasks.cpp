#include "app/advice.h"
#include "app/json_output.h"
#include "app/tasks.h"
#include "device/presence.h"

namespace ostrel {

void application_version_task(run_context& run) {
    run.action_taken = true;
    if (!run.device.connect_app()) {
        run.fail_to_connect("could not connect to ostrel", {app_product_id});
        return;
    }
    const auto version = run.device.read_app_version(run.report_buffer);
    if (!version) {
        run.fail("could not read application version");
        return;
    }
    run.say_bytes("application version: ", *version, version_event("application", *version));
}

void bridge_version_task(run_context& run) {
    run.action_taken = true;
    if (!run.device.connect_app()) {
        run.fail_to_connect("could not connect to ostrel", {app_product_id});
        return;
    }
    const auto version = run.device.read_bridge_version(run.report_buffer);
    if (!version) {
        run.fail("could not read VXR7200 firmware version");
        return;
    }
    run.say_bytes("VXR7200 firmware version: ", *version, version_event("bridge", *version));
}

void bootloader_version_task(run_context& run) {
    run.action_taken = true;
    const bool in_bootloader =
        run.device.bootloader_open() || device_listed({bootloader_product_id}, run.device.place);
    if (run.dry_run && !in_bootloader) {
        run.say(
            "Dry run: would switch the Ostrel to its bootloader to read its version, then start "
            "its application again");
        return;
    }
    if (!run.device.connect_bootloader()) {
        run.fail_to_connect("could not connect to bootloader",
                            {bootloader_product_id, app_product_id});
        return;
    }
    run.bootloader_borrowed = !in_bootloader;
    const auto version = run.device.read_bootloader_version(run.report_buffer);
    if (!version) {
        run.fail("could not read bootloader version");
        return;
    }
    run.say_bytes("bootloader version: ", *version, version_event("bootloader", *version));
}

void give_back_application(run_context& run) {
    run.bootloader_borrowed = false;
    run.device.start_application();
    if (!run.device.wait_for_app()) {
        run.fail("The application did not start again after the bootloader's version was read.");
        run.advise(connection_advice(run.device, {app_product_id}));
    }
}

}  // namespace ostrel
