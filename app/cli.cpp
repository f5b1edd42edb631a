#include "app/advice.h"
#include "app/tasks.h"
#include "device/stop_request.h"

namespace ostrel {

void run_context::say(std::string_view line) {
    out_ << line << std::endl;
}

void run_context::say_bytes(std::string_view text, std::string_view bytes) {
    out_ << text;
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out_ << std::endl;
}

void run_context::fail(std::string_view line) {
    err_ << line << std::endl;
    failed_ = true;
}

void run_context::advise(std::string_view line) {
    err_ << line << std::endl;
}

void run_context::fail_to_connect(std::string_view line,
                                  std::initializer_list<unsigned short> tried) {
    fail(line);
    advise(connection_advice(device, tried));
}

namespace {

// Whether the command line asks for a task that talks to the device.
bool talks_to_device(std::span<const std::string> args) {
    for (const char* option : {"-v", "-r", "-b"}) {
        if (find_option(args, option).found) {
            return true;
        }
    }
    const option_hit erase = find_option(args, "-x");
    return (erase.found && erase_confirmed(erase.value)) || find_option(args, "-f").value ||
           find_option(args, "-u").value;
}

const char* identity_name(unsigned short product_id) {
    return product_id == bootloader_product_id ? "bootloader" : "application";
}

}  // namespace

int run_cli(std::span<const std::string> args, std::ostream& out, std::ostream& err,
            bool terminal) {
    run_context run(out, err, terminal);
    if (terminal) {
        run.device.on_wait = [&run](unsigned short product_id) {
            run.say(std::string("Waiting up to 15 s for the Ostrel to come back as its ") +
                    identity_name(product_id) + "...");
        };
    }

    if (find_option(args, "-h").found) {
        for (const char* line : help_lines) {
            run.say(line);
        }
        return 0;
    }
    if (find_option(args, "-l").found) {
        list_task(run);
    }
    device_locks locks;
    if (talks_to_device(args) && !claim_device(run, args, locks)) {
        return 1;
    }
    if (find_option(args, "-v").found) {
        application_version_task(run);
    }
    if (find_option(args, "-r").found) {
        bridge_version_task(run);
    }
    if (find_option(args, "-b").found) {
        bootloader_version_task(run);
    }
    if (const option_hit erase = find_option(args, "-x"); erase.found) {
        if (const task_result end = erase_task(run, erase)) {
            return *end;
        }
    }
    if (const option_hit firmware = find_option(args, "-f"); firmware.found) {
        if (const task_result end = firmware_task(run, firmware)) {
            return *end;
        }
        if (stop_requested() != 0) {
            return 1;  // interrupted: nothing after the load runs
        }
    }
    if (const option_hit update = find_option(args, "-u"); update.found) {
        if (const task_result end = update_task(run, update)) {
            return *end;
        }
    } else if (!run.action_taken) {
        run.say(usage_line);
    }
    return run.failed() ? 1 : 0;
}

}  // namespace ostrel
