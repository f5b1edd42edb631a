// -l, and the choice and lock of the Ostrel a run works on (-d, OSTREL_DEVICE).
#include <cstdlib>
#include <vector>

#include "app/json_output.h"
#include "app/tasks.h"
#include "device/device_list.h"

namespace ostrel {
namespace {

const char* identity_name(const listed_device& device) {
    return device.product_id == bootloader_product_id ? "bootloader" : "application";
}

// One line of -l: identity, USB port path, serial number, device path, separated by tabs,
// with "-" for what the device or the system does not give.
std::string list_line(const listed_device& device) {
    const auto shown = [](const std::string& text) { return text.empty() ? "-" : text; };
    return std::string(identity_name(device)) + "\t" + shown(device.port) + "\t" +
           shown(device.serial) + "\t" + device.path;
}

// The pick of -d, or else of OSTREL_DEVICE when it is set and not empty. Nothing when neither
// names one; `missing` when -d is the last word.
std::optional<std::string> given_pick(std::span<const std::string> args, bool& missing) {
    const option_hit option = find_option(args, "-d");
    missing = option.found && !option.value;
    if (option.found) {
        return option.value;
    }
    const char* variable = std::getenv("OSTREL_DEVICE");
    return variable != nullptr && *variable != '\0' ? std::optional<std::string>(variable)
                                                    : std::nullopt;
}

// The Ostrel the run works on: from -d or OSTREL_DEVICE, or the only one attached; nothing
// when none is. False, having said why, when the pick cannot be made.
bool pick_device(run_context& run, std::span<const std::string> args,
                 std::optional<listed_device>& chosen) {
    bool missing = false;
    const std::optional<std::string> pick = given_pick(args, missing);
    if (missing || (pick && pick->empty())) {
        run.fail(std::string(missing ? "-d needs a device" : "-d is empty") +
                 ": give a USB port path, a serial number or a device path, as -l shows them");
        return false;
    }
    // Where the pick came from, for the messages about it.
    const std::string origin =
        find_option(args, "-d").found ? " given with -d" : " given in OSTREL_DEVICE";
    std::vector<listed_device> matching;
    for (const listed_device& device : list_devices()) {
        if (!pick || picks(device, *pick)) {
            matching.push_back(device);
        }
    }
    if (matching.size() == 1) {
        chosen = matching.front();
        // Followed on its port; by its serial number only when it was picked by one and the
        // system gives no port.
        run.device.place = {.port = chosen->port,
                            .serial = pick ? chosen->serial : std::string(),
                            .nowhere = false,
                            .path = {}};
        if (pick && chosen->port.empty() && chosen->serial.empty()) {
            run.device.place.path = chosen->path;  // picked by the path alone
        }
        return true;
    }
    if (matching.empty()) {
        // None claimed, none opened: not even one that comes back to USB later, which may be
        // another run's, off USB for its mode switch.
        run.device.place = {.port = {}, .serial = {}, .nowhere = true, .path = {}};
        if (const std::optional<std::string> held = device_locks::held_elsewhere(pick)) {
            run.fail("Another ostrel_firmware_update is working on " +
                     (pick ? "the Ostrel " + *pick + origin : std::string("an Ostrel")) +
                     ", which is off USB at the moment (switching modes): wait for it to end, "
                     "then try again (lock file " +
                     *held + ")");
            return false;
        }
    }
    if (!pick && matching.empty()) {
        return true;  // the tasks say that no Ostrel is there, as they always have
    }
    if (!pick) {
        run.fail(
            "Several Ostrels are attached: pick one with -d PORT or -d SERIAL, or set "
            "OSTREL_DEVICE. Attached:");
    } else if (matching.empty()) {
        run.fail("No attached Ostrel has the USB port path, serial number or device path " + *pick +
                 origin + ": run with -l to see those attached");
        return false;
    } else {
        run.fail("More than one attached Ostrel has the serial number " + *pick + origin +
                 ": pick one by its USB port path or device path. Attached with it:");
    }
    for (const listed_device& device : matching) {
        run.advise(list_line(device));
    }
    return false;
}

}  // namespace

task_result list_task(run_context& run, job& /*job*/, const option_hit& /*option*/) {
    run.action_taken = true;
    const std::vector<listed_device> devices = list_devices();
    for (const listed_device& device : devices) {
        json_event event = make_event("device");
        event["identity"] = identity_name(device);
        const auto given = [](const std::string& text) {
            return text.empty() ? json_event() : json_event(text);
        };
        event["port"] = given(device.port);
        event["serial"] = given(device.serial);
        event["path"] = device.path;
        run.say(list_line(device), event);
    }
    if (devices.empty()) {
        run.advise("No Ostrel is attached.");  // on standard error: the list stays empty
    }
    return std::nullopt;
}

bool claim_device(run_context& run, std::span<const std::string> args, device_locks& locks) {
    std::optional<listed_device> chosen;
    if (!pick_device(run, args, chosen)) {
        return false;
    }
    if (!chosen) {
        return true;
    }
    std::string file;
    std::string why;
    switch (locks.take(*chosen, file, why)) {
        case lock_file::outcome::held:
            return true;
        case lock_file::outcome::busy:
            run.fail(
                "Another ostrel_firmware_update is working on this Ostrel: wait for it to end, "
                "then try again (lock file " +
                file + ")");
            return false;
        case lock_file::outcome::unavailable:
            run.fail("Could not take the lock that keeps other runs off this Ostrel: " + file);
            run.advise("The lock file " + why + ". Nothing was sent to the Ostrel.");
            return false;
    }
    return false;
}

}  // namespace ostrel
