#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The command line: the task table, one row for each option the program knows, and the
// scan of the arguments against it; the usage line and the help text.
namespace ostrel {

class run_context;
struct job;

// One option looked up on the command line.
struct option_hit {
    bool found = false;
    std::optional<std::string> value;  // the element after the first occurrence, if any
};

// Looks `text` up among all elements of `args` (the program name included) and stops
// at the first exact, case-sensitive match. Each option is looked up on its own, so the
// order of the arguments does not decide the order of the tasks.
option_hit find_option(std::span<const std::string> args, const std::string& text);

// A task either lets the run go on (nothing) or ends it with an exit status.
using task_result = std::optional<int>;
// One step of an option, given what the command line holds for it.
using task = task_result (*)(run_context& run, job& job, const option_hit& option);

// Whether an option's task talks to the device, which the run then claims.
enum class device_use : std::uint8_t {
    none,
    always,
    confirmed,  // only when its value is the erase confirmation word (-x)
};

// One option. `check` sends nothing: it reads and checks the option's input before anything
// is sent; a status refuses the run, once every check given has spoken. `run` is the
// option's part once the device is claimed. Either may be empty; the options with neither
// are settings the run reads by name.
struct task_row {
    const char* text;
    bool takes_value;
    device_use device;
    task check;
    task run;
};

// Every option, in the order their checks, and then their device parts, run.
std::span<const task_row> task_table();

// What a command line asks for, read before anything is sent.
struct run_plan {
    std::span<const std::string> args;  // argv as given, the program name first
    // One line for each argument that is neither an option nor an option's value, and for
    // each option given twice with different values. A run with any sends nothing.
    std::vector<std::string> problems;

    // Whether the option `text` of the task table is given.
    bool given(const char* text) const { return find_option(args, text).found; }
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
