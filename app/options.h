#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

// One option looked up on the command line.
struct option_hit {
    bool found = false;
    std::optional<std::string> value;  // the element after the first occurrence, if any
};

// Looks `text` up among all elements of `args` (the program name included) and stops
// at the first exact, case-sensitive match. Each option is looked up on its own, so the
// order of the arguments does not decide the order of the tasks.
option_hit find_option(std::span<const std::string> args, const std::string& text);

// What a command line asks for, read before anything is sent.
struct run_plan {
    bool help = false;     // -h, --help
    bool version = false;  // --version: the program's and hidapi's versions
    bool list = false;
    bool app_version = false;
    bool bridge_version = false;
    bool boot_version = false;
    option_hit erase;      // -x WORD
    option_hit firmware;   // -f FILE
    option_hit update;     // -u FILE
    bool dry_run = false;  // -n, --dry-run: read the device, say what would be done, change nothing
    bool json = false;     // --json: standard output as JSON lines, one object per event
    bool force = false;    // --force: -u writes every region whatever the checksums say
    // One line for each argument that is neither an option nor an option's value, and for
    // each option given twice with different values. A run with any sends nothing.
    std::vector<std::string> problems;
};

run_plan read_plan(std::span<const std::string> args);

inline constexpr const char* usage_line =
    "Usage: ostrel_firmware_update.exe [-h] [-v] [-r] [-b] [-f filename.hex] [-u "
    "filename.fullrom]";

// The help text, line by line; the second line alone is the usage line.
inline constexpr const char* help_lines[] = {
    "ostrel_firmware_update",
    usage_line,
    "",
    "Options:",
    "\t-h\tShow this help information and exit",
    "\t-v\tShow the microcontroller firmware version",
    "\t-r\tShow the VXR7200 bridge IC firmware version",
    "\t-b\tShow the bootloader version",
    "\t-f FILENAME",
    "\t\tFlash FILENAME (Intel hex format) to the microcontroller",
    "\t-u FILENAME",
    "\t\tFlash FILENAME (Synaptics Fullrom format) to the VXR7200",
    "\t-l\tList the attached Ostrels: identity, USB port, serial number, device path",
    "\t-d DEVICE",
    "\t\tUse the Ostrel at USB port DEVICE or with serial number DEVICE",
    "\t\t(default: $OSTREL_DEVICE); needed when several are attached",
    "\t-n, --dry-run",
    "\t\tRead the device and say what the run would do; change nothing",
    "\t--json\tWrite standard output as JSON lines (doc/usage.md gives the schema)",
    "\t--force\tWith -u, write every region whatever the device's checksums say",
    "\t--version\tShow the program's and hidapi's versions and exit",
};

}  // namespace ostrel
