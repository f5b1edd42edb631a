#include "app/progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#ifdef _WIN32
#ifndef NOMINMAX  // std::min and std::max, not the macros
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "base/clock.h"

namespace ostrel {
namespace {

// The width of the terminal on standard output now, 80 when it does not say.
int terminal_columns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) != 0) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
#else
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
#endif
    return 80;
}

std::string minutes_seconds(std::int64_t seconds) {
    char text[32];
    static_cast<void>(std::snprintf(text, sizeof text, "%lld:%02lld",
                                    static_cast<long long>(seconds / 60),
                                    static_cast<long long>(seconds % 60)));
    return text;
}

}  // namespace

progress_line::progress_line(std::ostream& out, std::string label, std::uint64_t total_bytes)
    : out_(out),
      label_(std::move(label)),
      short_label_(label_),
      total_bytes_(total_bytes),
      start_ns_(monotonic_ns()) {
    const std::string word = " progress: ";
    if (label_.ends_with(word)) {
        short_label_.replace(label_.size() - word.size(), word.size(), ": ");
    }
}

void progress_line::erasing() {
    draw({label_ + "erasing...", short_label_ + "erasing...", "erasing..."});
}

void progress_line::show(double fraction) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    const std::int64_t now_ns = monotonic_ns();
    if (!write_start_ns_) {
        write_start_ns_ = now_ns;
        write_start_fraction_ = fraction;
    }
    const std::int64_t elapsed_s = (now_ns - start_ns_) / 1'000'000'000;
    const int percent = static_cast<int>(fraction * 100.0);
    // Redrawn when the whole percent, the second or the width changes: the bridge update
    // reports every 32 bytes, far more often than a person can read.
    const std::int64_t moment = std::int64_t{percent} * 1'000'000'000 + elapsed_s;
    if (open_ && moment == shown_moment_ && terminal_columns() == shown_columns_) {
        return;
    }
    shown_moment_ = moment;

    char head[96];
    const int total_digits =
        std::snprintf(nullptr, 0, "%llu", static_cast<unsigned long long>(total_bytes_));
    const auto done = static_cast<std::uint64_t>(fraction * static_cast<double>(total_bytes_));
    static_cast<void>(std::snprintf(head, sizeof head, "%3d%%", percent));
    const std::string percent_text = head;
    static_cast<void>(std::snprintf(head, sizeof head, " %*llu/%llu bytes", total_digits,
                                    static_cast<unsigned long long>(done),
                                    static_cast<unsigned long long>(total_bytes_)));
    const std::string bytes_text = head;
    static_cast<void>(std::snprintf(head, sizeof head, " %llu/%llu KB",
                                    static_cast<unsigned long long>(done / 1024),
                                    static_cast<unsigned long long>(total_bytes_ / 1024)));
    const std::string kilobytes_text = head;
    const std::string elapsed_text = ", " + minutes_seconds(elapsed_s) + " elapsed";
    // The rate of writing so far, the erase left out.
    std::string left_text;
    const double written = fraction - write_start_fraction_;
    const std::int64_t writing_ns = now_ns - *write_start_ns_;
    if (written > 0.0 && writing_ns > 0 && fraction < 1.0) {
        const double left_s = static_cast<double>(writing_ns) / 1e9 * (1.0 - fraction) / written;
        left_text = ", " + minutes_seconds(std::llround(left_s)) + " left";
    }
    const std::string& label = label_;
    const std::string& short_label = short_label_;
    draw({label + percent_text + bytes_text + elapsed_text + left_text,
          short_label + percent_text + bytes_text + elapsed_text + left_text,
          short_label + percent_text + kilobytes_text + elapsed_text + left_text,
          short_label + percent_text + kilobytes_text + left_text,
          short_label + percent_text + left_text, short_label + percent_text,
          percent_text + left_text});
}

void progress_line::complete() {
    const std::int64_t took_ms = std::max<std::int64_t>(elapsed_ms(start_ns_), 1);
    char rate[48];
    static_cast<void>(std::snprintf(
        rate, sizeof rate, "%.1f KB/s",
        static_cast<double>(total_bytes_) / 1024.0 / (static_cast<double>(took_ms) / 1000.0)));
    const std::string took = minutes_seconds(took_ms / 1000);
    const std::string bytes = std::to_string(total_bytes_) + " bytes";
    const std::string& label = label_;
    const std::string& short_label = short_label_;
    draw({label + "100% " + bytes + " in " + took + ", " + rate,
          short_label + "100% " + bytes + " in " + took + ", " + rate,
          short_label + "100% in " + took + ", " + rate, short_label + "100%, " + rate,
          "100%, " + std::string(rate)});
    stop();
}

void progress_line::stop() {
    if (open_) {
        out_ << '\n' << std::flush;
        open_ = false;
    }
}

void progress_line::draw(std::initializer_list<std::string> choices) {
    const int columns = terminal_columns();
    shown_columns_ = columns;
    // One column short of the width: a line that fills the last column wraps on some
    // terminals.
    const auto room = static_cast<std::size_t>(std::max(columns - 1, 1));
    const auto* const fits =
        std::find_if(choices.begin(), choices.end(),
                     [room](const std::string& text) { return text.size() <= room; });
    std::string text = fits != choices.end() ? *fits : std::rbegin(choices)->substr(0, room);
    // Blanks over what a longer line before left on the screen, never past the width.
    const std::size_t length = text.size();
    text.resize(std::max(length, std::min(shown_length_, room)), ' ');
    out_ << '\r' << text << std::flush;
    shown_length_ = length;
    open_ = true;
}

job_progress::job_progress(std::ostream& out, bool terminal, const std::string& label,
                           std::uint64_t total_bytes, progress_callback plain)
    : plain_(std::move(plain)) {
    if (terminal) {
        bar_.emplace(out, label, total_bytes);
        bar_->erasing();
    }
}

void job_progress::operator()(double fraction) {
    if (bar_) {
        bar_->show(fraction);
    } else if (plain_) {
        plain_(fraction);
    }
}

void job_progress::end(bool done) {
    if (!bar_) {
        return;
    }
    if (done) {
        bar_->complete();
    } else {
        bar_->stop();
    }
}

}  // namespace ostrel
