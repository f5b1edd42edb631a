#include "app/tasks.h"

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
    run.say_bytes("application version: ", *version);
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
    run.say_bytes("VXR7200 firmware version: ", *version);
}

void bootloader_version_task(run_context& run) {
    run.action_taken = true;
    if (!run.device.connect_bootloader()) {
        run.fail_to_connect("could not connect to bootloader",
                            {bootloader_product_id, app_product_id});
        return;
    }
    const auto version = run.device.read_bootloader_version(run.report_buffer);
    if (!version) {
        run.fail("could not read bootloader version");
        return;
    }
    run.say_bytes("bootloader version: ", *version);
}

}  // namespace ostrel
