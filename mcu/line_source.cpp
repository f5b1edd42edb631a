#include "mcu/line_source.h"

#include <algorithm>
#include <cstring>

#include "mcu/hex_record.h"
#include "mcu/hex_text.h"

namespace ostrel {
namespace {

// The fuzz build makes the buffer tiny, so that lines straddle refills all the time.
#ifndef OSTREL_LINE_BUFFER_SIZE
#define OSTREL_LINE_BUFFER_SIZE (std::size_t{64} * 1024)
#endif
constexpr std::size_t buffer_size = OSTREL_LINE_BUFFER_SIZE;

bool is_line_blank(char c) {
    return c != '\n' && is_hex_blank(c);
}

}  // namespace

line_source::line_source(std::FILE* file, std::size_t limit)
    : file_(file), limit_(limit), buffer_(buffer_size) {
    carry_.reserve(limit);
}

line_source::line_source(std::string_view text, std::size_t limit)
    : text_(text), limit_(limit), buffer_(buffer_size) {
    carry_.reserve(limit);
}

bool line_source::refill() {
    if (error_) {
        return false;
    }
    pos_ = 0;
    if (file_ == nullptr) {
        end_ = text_.copy(buffer_.data(), buffer_.size());
        text_.remove_prefix(end_);
        return end_ > 0;
    }
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    if (end_ == 0 && std::ferror(file_) != 0) {
        error_ = true;
    }
    return end_ > 0;
}

bool line_source::peek_record(std::string_view& record, std::size_t& size) const {
    const std::size_t left = end_ - pos_;
    const char* line = buffer_.data() + pos_;
    if (left < 2 * hex_record_fixed_bytes + 2 || line[0] != ':') {
        return false;
    }
    const std::uint8_t high = hex_digit_table[static_cast<unsigned char>(line[1])];
    const std::uint8_t low = hex_digit_table[static_cast<unsigned char>(line[2])];
    if (((high | low) & hex_not_digit) != 0) {
        return false;
    }
    const std::size_t length = 1 + 2 * (hex_record_fixed_bytes + (high * 16u + low));
    if (length < left && line[length] == '\n') {
        size = length + 1;
    } else if (length + 1 < left && line[length] == '\r' && line[length + 1] == '\n') {
        size = length + 2;
    } else {
        return false;
    }
    record = std::string_view(line, length);
    return true;
}

line_source::status line_source::next(std::string_view& line, bool& overlong) {
    overlong = false;
    // The usual line: whole in the buffer, no leading blank, within the limit.
    if (pos_ < end_ && !is_line_blank(buffer_[pos_])) {
        const char* data = buffer_.data() + pos_;
        const auto* newline =
            static_cast<const char*>(std::memchr(data, '\n', std::min(end_ - pos_, limit_ + 1)));
        if (newline != nullptr) {
            line = std::string_view(data, static_cast<std::size_t>(newline - data));
            pos_ += line.size() + 1;
            return status::line;
        }
    }
    carry_.clear();
    bool leading = true;   // still among the line's leading blanks
    bool started = false;  // some character of this line has been consumed
    while (true) {
        if (pos_ == end_ && !refill()) {
            if (error_) {
                return status::error;
            }
            if (!started) {
                return status::end;
            }
            line = carry_;  // the last line, without a line feed
            return status::line;
        }
        started = true;
        const char* data = buffer_.data();
        if (leading) {
            while (pos_ < end_ && is_line_blank(data[pos_])) {
                ++pos_;
            }
            if (pos_ == end_) {
                continue;
            }
            leading = false;
        }
        const auto* newline = static_cast<const char*>(std::memchr(data + pos_, '\n', end_ - pos_));
        const std::size_t stop =
            newline != nullptr ? static_cast<std::size_t>(newline - data) : end_;
        const std::size_t length = stop - pos_;
        const std::size_t room = limit_ - carry_.size();
        if (length > room) {
            overlong = overlong || std::any_of(data + pos_ + room, data + stop,
                                               [](char c) { return !is_line_blank(c); });
        }
        if (newline != nullptr && carry_.empty()) {
            line = std::string_view(data + pos_, std::min(length, room));  // no copy
            pos_ = stop + 1;
            return status::line;
        }
        carry_.append(data + pos_, std::min(length, room));
        pos_ = newline != nullptr ? stop + 1 : stop;
        if (newline != nullptr) {
            line = carry_;
            return status::line;
        }
    }
}

}  // namespace ostrel
