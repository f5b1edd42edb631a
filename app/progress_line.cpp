#include "app/progress_line.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "device/clock.h"

namespace ostrel {
namespace {

std::string minutes_seconds(std::int64_t seconds) {
    char text[32];
    static_cast<void>(std::snprintf(text, sizeof text, "%lld:%02lld",
                                    static_cast<long long>(seconds / 60),
                                    static_cast<long long>(seconds % 60)));
    return text;
}

}  // namespace

progress_line::progress_line(std::ostream& out, std::string label, std::uint64_t total_bytes)
    : out_(out), label_(std::move(label)), total_bytes_(total_bytes), start_ns_(monotonic_ns()) {}

void progress_line::show(double fraction) {
    draw(std::clamp(fraction, 0.0, 1.0));
}

void progress_line::complete() {
    draw(1.0);
    stop();
}

void progress_line::stop() {
    if (open_) {
        out_ << '\n' << std::flush;
        open_ = false;
    }
}

void progress_line::draw(double fraction) {
    const std::int64_t elapsed_s = elapsed_ms(start_ns_) / 1000;
    // Redrawn when the whole percent or the second changes: the bridge update reports every
    // 32 bytes, far more often than a person can read.
    const std::int64_t moment = static_cast<std::int64_t>(fraction * 100.0) * 1'000'000 + elapsed_s;
    if (open_ && moment == shown_moment_) {
        return;
    }
    shown_moment_ = moment;
    const auto done = static_cast<std::uint64_t>(fraction * static_cast<double>(total_bytes_));
    char head[96];
    static_cast<void>(std::snprintf(
        head, sizeof head, "%3d%% %llu/%llu bytes", static_cast<int>(fraction * 100.0),
        static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_bytes_)));
    std::string text = label_ + head + ", " + minutes_seconds(elapsed_s) + " elapsed";
    if (fraction > 0.0 && fraction < 1.0) {
        const auto left =
            static_cast<std::int64_t>(static_cast<double>(elapsed_s) * (1.0 - fraction) / fraction);
        text += ", " + minutes_seconds(left) + " left";
    }
    // Blanks over what a longer line before left on the screen.
    const std::size_t length = text.size();
    text.resize(std::max(length, shown_length_), ' ');
    out_ << '\r' << text << std::flush;
    shown_length_ = length;
    open_ = true;
}

job_progress::job_progress(std::ostream& out, bool terminal, const std::string& label,
                           std::uint64_t total_bytes, progress_callback plain)
    : plain_(std::move(plain)) {
    if (terminal) {
        bar_.emplace(out, label, total_bytes);
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
