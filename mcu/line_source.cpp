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

bool is_line_end(char c) {
    return c == '\n' || c == '\r';
}

bool is_line_blank(char c) {
    return !is_line_end(c) && is_hex_blank(c);
}

// The UTF-8 byte-order mark, which some editors put at the start of a text file.
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
static_assert(buffer_size >= byte_order_mark.size(), "the mark must fit the first fill");

// Ctrl-Z, with which DOS ends a text file.
constexpr char dos_end_of_file = '\x1A';

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
    } else {
        end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        if (end_ == 0 && std::ferror(file_) != 0) {
            error_ = true;
        }
    }
    if (at_start_) {
        at_start_ = false;
        if (std::string_view(buffer_.data(), end_).starts_with(byte_order_mark)) {
            pos_ = byte_order_mark.size();
        }
    }
    return end_ > 0;
}

void line_source::end_line(std::size_t at) {
    pos_ = at + 1;
    if (buffer_[at] == '\r') {
        if (pos_ == end_) {
            after_cr_ = true;  // a LF at the start of the next fill belongs to this CR
        } else if (buffer_[pos_] == '\n') {
            ++pos_;
        }
    }
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
    } else if (length + 1 < left && line[length] == '\r') {
        size = line[length + 1] == '\n' ? length + 2 : length + 1;
    } else {
        return false;  // also a CR last in the buffer, which a LF may follow
    }
    record = std::string_view(line, length);
    return true;
}

bool line_source::next_in_buffer(std::string_view& line) {
    if (pos_ == end_ || is_line_blank(buffer_[pos_])) {
        return false;
    }
    const char* data = buffer_.data() + pos_;
    const char* scanned = data + std::min(end_ - pos_, limit_ + 1);
    const char* stop = std::find_if(data, scanned, is_line_end);
    if (stop == scanned) {
        return false;
    }
    line = std::string_view(data, static_cast<std::size_t>(stop - data));
    end_line(pos_ + line.size());
    return true;
}

line_source::status line_source::next(std::string_view& line, bool& overlong) {
    overlong = false;
    if (after_cr_) {
        after_cr_ = false;
        if (pos_ == end_ && !refill()) {
            return error_ ? status::error : status::end;
        }
        pos_ += buffer_[pos_] == '\n' ? 1 : 0;
    }
    if (next_in_buffer(line)) {
        return status::line;
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
            // The last line, without a line end; a Ctrl-Z after it is not part of the text.
            while (!carry_.empty() && carry_.back() == dos_end_of_file) {
                carry_.pop_back();
            }
            line = carry_;
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
        const char* found = std::find_if(data + pos_, data + end_, is_line_end);
        const auto stop = static_cast<std::size_t>(found - data);
        const std::size_t length = stop - pos_;
        const std::size_t room = limit_ - carry_.size();
        if (length > room) {
            overlong = overlong || std::any_of(data + pos_ + room, data + stop,
                                               [](char c) { return !is_line_blank(c); });
        }
        const bool ended = stop < end_;
        if (ended && carry_.empty()) {
            line = std::string_view(data + pos_, std::min(length, room));  // no copy
            end_line(stop);
            return status::line;
        }
        carry_.append(data + pos_, std::min(length, room));
        if (ended) {
            end_line(stop);
            line = carry_;
            return status::line;
        }
        pos_ = stop;
    }
}

}  // namespace ostrel
