#include "app/tasks.h"
#include "device/presence.h"

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

void run_context::fail_to_connect(std::string_view line,
                                  std::initializer_list<unsigned short> tried) {
    fail(line);
    if (device_listed(tried)) {
        err_ << "The Ostrel is connected but cannot be opened: check the access rights to its "
                "hidraw device (udev rule 70-ostrel.rules, see ostrel_firmware_update(1))"
             << std::endl;
    }
}

int run_cli(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    run_context run(out, err);

    if (find_option(args, "-h").found) {
        for (const char* line : help_lines) {
            run.say(line);
        }
        return 0;
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
