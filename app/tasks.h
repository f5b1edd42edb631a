#pragma once

// The run and its tasks: what one run keeps from start to end (run_context), what its tasks
// share (job), and the task of each option of the task table (app/options.h).

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "app/options.h"
#include "base/file_access.h"
#include "device/device_link.h"
#include "device/device_lock.h"
#include "mcu/hex_reader.h"

namespace ostrel {

// One object of --json's output (app/json_output.h builds them).
using json_event = nlohmann::ordered_json;

// What one run of the program keeps from start to end.
class run_context {
  public:
    // `terminal`: standard output is a terminal, where progress is one line redrawn in
    // place and waits for the device are announced. Elsewhere the output is plain lines.
    // `json` (--json): standard output is JSON lines, one event per line (doc/usage.md), and
    // standard error is left to the run's end alone; never on a terminal's terms.
    run_context(std::ostream& out, std::ostream& err, bool terminal, bool json = false)
        : terminal(terminal && !json), json(json), out_(out), err_(err) {}

    const bool terminal;
    const bool json;

    device_link device;
    hid_report report_buffer{};  // shared by the version queries for the whole run
    bool action_taken = false;   // decides whether the usage line ends the run
    bool dry_run = false;        // -n: read the device, say what would be done, change nothing
    bool force = false;          // --force: -u writes every region
    // Set when -b switched the device to its bootloader, which the run then gives back.
    bool bootloader_borrowed = false;

    // Each of these writes text lines, or with --json the events that stand for them.
    // A whole line on standard output; a "message" event.
    void say(std::string_view line);
    // Whole lines on standard output that `event` stands for.
    void say(std::string_view line, const json_event& event);
    // A fixed text followed by raw bytes (NULs included) on standard output; `event`.
    void say_bytes(std::string_view text, std::string_view bytes, const json_event& event);
    // An event that no text line stands for: nothing without --json.
    void tell(const json_event& event);
    // The line that ends `task` (its name in the events): on standard output when it
    // `succeeded`, else on standard error as fail() writes it; a "result" event.
    void conclude(std::string_view task, bool succeeded, std::string_view line);
    // Progress of `task`, `fraction` of its `total` bytes done: `line` unless it is empty; a
    // "progress" event unless it would repeat the one before.
    void progress(std::string_view task, double fraction, std::uint64_t total,
                  std::string_view line);
    // A whole line on standard error. The run then ends with status 1 however it goes on.
    // A "failure" event.
    void fail(std::string_view line);
    // A line on standard error that follows a failure: why, and what to do next. An
    // "advice" event.
    void advise(std::string_view line);
    // A failed connection: `line`, then why, as `result` tells it, and what to do about it.
    void fail_to_connect(std::string_view line, const connection& result);

    bool failed() const { return failed_; }
    std::ostream& out() { return out_; }
    // Whether something written to standard output or standard error did not get there.
    bool output_lost() const { return out_.fail() || err_.fail(); }

  private:
    void emit(const json_event& event);

    std::ostream& out_;
    std::ostream& err_;
    bool failed_ = false;
    std::string progress_task_;  // of the last progress event
    std::uint64_t progress_done_ = 0;
};

// The input of -f, read and checked before anything is sent.
struct firmware_input {
    std::string path;
    hex_image image;
};

// The input of -u, read once and checked before anything is sent.
struct update_input {
    std::string path;
    input_file contents;  // the file's bytes, or why it could not be read
};

// What the tasks of one run share: the inputs their checks read, and what a task leaves for
// those after it.
struct job {
    std::optional<firmware_input> firmware;  // -f's, checked
    std::optional<update_input> update;      // -u's, checked
    bool loaded = true;                      // no -f, or its image is in and the application back
};

// Each task has the shape of `task` (app/options.h): the run, the job, and what the
// command line holds for its option.

// -l: one line on standard output for each Ostrel attached. Sends nothing.
task_result list_task(run_context& run, job& job, const option_hit& option);

// The device's versions that -v, -r and -b show.
enum class version_part : std::uint8_t { application, bridge, bootloader };
// Shows `part`'s version. The bootloader's is read in the bootloader, to which the device is
// switched if need be; it is then given back to its application, unless -f is to load it.
task_result version_task(run_context& run, job& job, version_part part);

// Whether the word given with -x begins with the confirmation word.
bool erase_confirmed(const std::optional<std::string>& word);
// -x WORD: erase the whole bridge flash.
task_result erase_task(run_context& run, job& job, const option_hit& option);

// Reads and checks the file of -f into the job; 1, having said why, when it cannot be loaded.
task_result check_firmware_input(run_context& run, job& job, const option_hit& option);
// -f FILE: load the image into the microcontroller, start the application and wait for it.
task_result firmware_task(run_context& run, job& job, const option_hit& option);

// Reads and checks the file of -u into the job; 1, having said why, when it cannot be an
// image.
task_result check_update_input(run_context& run, job& job, const option_hit& option);
// -u FILE: bring the bridge's flash in line with the image, refused after a load that did
// not complete. The last task: it ends the run.
task_result update_task(run_context& run, job& job, const option_hit& option);

// Whether a signal asked the run to end once the task in hand is done.
bool run_ends_early();
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
