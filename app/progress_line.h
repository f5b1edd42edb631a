#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "device/progress.h"

// Progress on a terminal: one line redrawn in place with the percentage, the bytes done of
// the total, the time elapsed and the time left, e.g.
//   "Firmware progress:  45% 228352/507904 bytes, 0:12 elapsed, 0:15 left"
// Used only when standard output is a terminal; scripts get the plain progress lines.
namespace ostrel {

class progress_line {
  public:
    progress_line(std::ostream& out, std::string label, std::uint64_t total_bytes);

    // Redraws the line for `fraction` (0 to 1) done, when what it shows has changed.
    void show(double fraction);
    // Draws 100 % and ends the line.
    void complete();
    // Ends the line where it stands, so that what follows starts on a line of its own.
    void stop();

  private:
    void draw(double fraction);

    std::ostream& out_;
    std::string label_;
    std::uint64_t total_bytes_;
    std::int64_t start_ns_;
    std::size_t shown_length_ = 0;
    std::int64_t shown_moment_ = -1;
    bool open_ = false;
};

// The progress of a load or an update as the user sees it: a progress_line on a terminal,
// else the plain lines that `plain` prints.
class job_progress {
  public:
    job_progress(std::ostream& out, bool terminal, const std::string& label,
                 std::uint64_t total_bytes, progress_callback plain);

    void operator()(double fraction);
    // On a terminal: 100 % and the line's end when the job was `done`, else the line's end
    // where it stands. Nothing otherwise.
    void end(bool done);

  private:
    std::optional<progress_line> bar_;
    progress_callback plain_;
};

}  // namespace ostrel
