#pragma once

#include <initializer_list>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "app/options.h"
#include "device/device_link.h"
#include "device/device_lock.h"

namespace ostrel {

// What one run of the program keeps from start to end.
class run_context {
  public:
    // `terminal`: standard output is a terminal, where progress is one line redrawn in
    // place and waits for the device are announced. Elsewhere the output is plain lines.
    run_context(std::ostream& out, std::ostream& err, bool terminal)
        : terminal(terminal), out_(out), err_(err) {}

    const bool terminal;

    device_link device;
    hid_report report_buffer{};  // shared by the version queries for the whole run
    bool action_taken = false;   // decides whether the usage line ends the run
    // Set when this run has just told the bootloader to start the application, which is
    // then on its way back to USB.
    bool application_restarting = false;

    // A whole line on standard output.
    void say(std::string_view line);
    // A fixed text followed by raw bytes (NULs included) on standard output.
    void say_bytes(std::string_view text, std::string_view bytes);
    // A whole line on standard error. The run then ends with status 1 however it goes on.
    void fail(std::string_view line);
    // A line on standard error that follows a failure: why, and what to do next.
    void advise(std::string_view line);
    // A failed connection to the identities `tried`: `line`, then what the system lists and
    // what to do about it.
    void fail_to_connect(std::string_view line, std::initializer_list<unsigned short> tried);

    bool failed() const { return failed_; }
    std::ostream& out() { return out_; }

  private:
    std::ostream& out_;
    std::ostream& err_;
    bool failed_ = false;
};

// A task either lets the run go on (nothing) or ends it with an exit status.
using task_result = std::optional<int>;

void application_version_task(run_context& run);
void bridge_version_task(run_context& run);
void bootloader_version_task(run_context& run);
// Whether the word given with -x begins with the confirmation word.
bool erase_confirmed(const std::optional<std::string>& word);
// -x WORD: erase the whole bridge flash.
task_result erase_task(run_context& run, const option_hit& option);
// -f FILE: load an Intel HEX file into the microcontroller.
task_result firmware_task(run_context& run, const option_hit& option);
// -u FILE: bring the bridge's flash in line with a Fullrom image.
task_result update_task(run_context& run, const option_hit& option);

// -l: one line on standard output for each Ostrel attached. Sends nothing.
void list_task(run_context& run);
// Chooses the Ostrel of a run that talks to a device, from -d or OSTREL_DEVICE, tells the
// link where to follow it (nowhere when none is attached), and takes its lock in `locks`, as
// the device is listed now. False, having said why on standard error, when a pick matches no
// Ostrel or more than one, when several are attached and none is picked, when another run
// holds the lock or it cannot be taken, and when none is attached while another run holds
// the lock of an Ostrel.
bool claim_device(run_context& run, std::span<const std::string> args, device_locks& locks);

// Runs the program on `args` (argv as given, the program name first) and returns its
// exit status. `terminal`: standard output is a terminal.
int run_cli(std::span<const std::string> args, std::ostream& out, std::ostream& err,
            bool terminal = false);

}  // namespace ostrel
