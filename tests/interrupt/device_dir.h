#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/model.h"
#include "sim/state_file.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

// A virtual device in a directory of its own, for runs of the shipped program through
// `ostrel_sim run`. The test makes, reads and arms it straight through the mapped state
// file, with the same model functions as `ostrel_sim init` and `fault`, and reads the
// request log the stand-in writes.
namespace interrupt_test {

using bytes = std::vector<std::uint8_t>;

inline constexpr int killed_status = 128 + 9;  // SIGKILL

class device_dir {
  public:
    // A fresh device as `options` say, its microcontroller area holding `mcu` (erased
    // beyond) and its bridge flash holding `bridge` (erased when empty).
    void reset(const sim::device_options& options, const bytes& mcu = {}, const bytes& bridge = {});

    sim::device_state& state() { return *file_->get(); }
    const std::string& path() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }

    // Arms a fault in the rule syntax of `ostrel_sim fault`.
    void arm(const std::string& rule);
    // The shipped program with `args`, against this device; killed after `timeout_s`.
    ostrel::testing::process_result run(const std::vector<std::string>& args, int timeout_s = 60);
    // Every request the device took since reset, from its log.
    std::vector<sim::request_record> log() const;
    // Waits (real time, at most a second) for a re-enumeration under way to end; false if
    // the device is still off USB then.
    bool settle();

    bool mcu_holds(const bytes& image);  // the area holds `image`, erased beyond it

  private:
    ostrel::testing::temp_dir dir_;
    std::unique_ptr<sim::state_file> file_;
};

// The command character of a logged request.
inline char command_of(const sim::request_record& record) {
    return static_cast<char>(record.bytes[1]);
}

// Positions (1-based, as fault rules count requests) of `log` around every request whose
// command is in `commands`: the one before, itself and the one after.
std::vector<std::size_t> points_around(const std::vector<sim::request_record>& log,
                                       const std::string& commands);

}  // namespace interrupt_test
