#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>

#include "base/progress.h"

// Progress on a terminal: one line redrawn in place, e.g.
//   "Firmware progress:  45% 228352/507904 bytes, 0:12 elapsed, 0:15 left"
// and at the end
//   "Firmware progress: 100% 507904 bytes in 0:17, 29.2 KB/s"
// It never wraps: the terminal's width, read at each redraw, decides how much of it is
// shown (narrower: "Firmware:  45% 0:15 left"). Until the job's first progress it says
// "erasing...": the jobs erase before they write. The time left follows the rate of
// writing alone, measured from the first progress on. Used only when standard output is a
// terminal; scripts get the plain progress lines.
namespace ostrel {

class progress_line {
  public:
    // `label` leads the line, e.g. "Firmware progress: "; on a narrow terminal its word
    // "progress" is left out.
    progress_line(std::ostream& out, std::string label, std::uint64_t total_bytes);

    // Draws the line of the erase that comes before the writing.
    void erasing();
    // Redraws the line for `fraction` (0 to 1) done, when what it shows has changed.
    void show(double fraction);
    // Draws 100 % with the time the job took and its rate, and ends the line.
    void complete();
    // Ends the line where it stands, so that what follows starts on a line of its own.
    void stop();

  private:
    // Draws the first of `choices`, richest first, that fits the terminal.
    void draw(std::initializer_list<std::string> choices);

    std::ostream& out_;
    std::string label_;
    std::string short_label_;
    std::uint64_t total_bytes_;
    std::int64_t start_ns_;
    std::optional<std::int64_t> write_start_ns_;  // at the first progress
    double write_start_fraction_ = 0.0;
    std::size_t shown_length_ = 0;
    std::int64_t shown_moment_ = -1;
    int shown_columns_ = 0;
    bool open_ = false;
};

// The progress of a load or an update as the user sees it: a progress_line on a terminal,
// starting with the erase, else the plain lines that `plain` prints.
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
