#pragma once

#include <initializer_list>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "app/options.h"
#include "device/bootloader_thread.h"

namespace ostrel {

// What one run of the program keeps from start to end.
class run_context {
  public:
    run_context(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    bootloader_thread device;
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
    // A failed connection: `line`, and when the system lists the device under one of the
    // product ids that could not be opened, one more line that points to its access rights.
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
// -x WORD: erase the whole bridge flash.
task_result erase_task(run_context& run, const option_hit& option);
// -f FILE: load an Intel HEX file into the microcontroller.
task_result firmware_task(run_context& run, const option_hit& option);
// -u FILE: bring the bridge's flash in line with a Fullrom image.
task_result update_task(run_context& run, const option_hit& option);

// Runs the program on `args` (argv as given, the program name first) and returns its
// exit status.
int run_cli(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace ostrel
