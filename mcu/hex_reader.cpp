// The Intel HEX reader: the text of a file split into lines, each line taken apart as a
// record, the data records laid out as one image; every defect named with its line.
#include "mcu/hex_reader.h"

#include <algorithm>

#include "base/file_kind.h"
#include "mcu/hex_assembler.h"
#include "mcu/hex_record.h"
#include "mcu/hex_text.h"

namespace ostrel {
namespace {

bool is_line_end(char c) {
    return c == '\n' || c == '\r';
}

bool is_line_blank(char c) {
    return !is_line_end(c) && is_hex_blank(c);
}

// The UTF-8 byte-order mark, which some editors put at the start of a text file.
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// Ctrl-Z, with which DOS ends a text file.
constexpr char dos_end_of_file = '\x1A';

// The lines of a text. A line ends at LF, CR LF or CR alone; a byte-order mark at the start
// of the text and Ctrl-Z at its end are not part of it.
class line_splitter {
  public:
    explicit line_splitter(std::string_view text) : rest_(text) {
        if (rest_.starts_with(byte_order_mark)) {
            rest_.remove_prefix(byte_order_mark.size());
        }
    }

    // The next line without its leading blanks and its line end, and of the rest at most
    // hex_line_limit characters; `overlong` tells that characters other than blanks were
    // dropped beyond the limit. False at the end of the text.
    bool next(std::string_view& line, bool& overlong) {
        if (rest_.empty()) {
            return false;
        }
        const auto start = static_cast<std::size_t>(
            std::find_if_not(rest_.begin(), rest_.end(), is_line_blank) - rest_.begin());
        const auto stop = static_cast<std::size_t>(
            std::find_if(rest_.begin() + static_cast<std::ptrdiff_t>(start), rest_.end(),
                         is_line_end) -
            rest_.begin());
        line = rest_.substr(start, stop - start);
        overlong = line.size() > hex_line_limit &&
                   !std::all_of(line.begin() + hex_line_limit, line.end(), is_line_blank);
        line = line.substr(0, hex_line_limit);
        if (stop == rest_.size()) {
            // The last line, without a line end; a Ctrl-Z after it is not part of the text.
            while (!line.empty() && line.back() == dos_end_of_file) {
                line.remove_suffix(1);
            }
            rest_ = {};
        } else {
            const bool crlf = rest_[stop] == '\r' && rest_.substr(stop + 1).starts_with('\n');
            rest_.remove_prefix(stop + (crlf ? 2 : 1));
        }
        return true;
    }

  private:
    std::string_view rest_;
};

bool fail(hex_read_error& error, hex_defect defect, std::size_t line) {
    error = {defect, line, {}};
    return false;
}

// A line refused for `defect`, as the user is told: a line of binary bytes makes the file
// binary (every line before it was a record or blank), and a large binary file is most likely
// the bridge's Fullrom image.
bool fail_line(hex_read_error& error, hex_defect defect, std::string_view line, std::size_t number,
               std::size_t text_size) {
    if (has_binary_bytes(line)) {
        return fail(error, fullrom_sized(text_size) ? hex_defect::fullrom_like : hex_defect::binary,
                    0);
    }
    return fail(error, defect, number);
}

// The upper address bits that an 02 or 04 record sets.
std::uint32_t address_bits(const hex_record& record) {
    const std::uint32_t value =
        static_cast<std::uint32_t>(record.data()[0]) << 8 | record.data()[1];
    return record.type == static_cast<std::uint8_t>(hex_record_type::extended_segment_address)
               ? value << 4
               : value << 16;
}

// A trimmed line that is not blank, taken as a record into `record`; `overlong`: characters
// beyond the line limit were dropped.
hex_defect take_record(std::string_view line, bool overlong, hex_record& record) {
    if (line[0] != ':') {
        return hex_defect::not_record;
    }
    return overlong ? hex_defect::line_too_long : decode_record(line, record);
}

// The records of `text` up to the end-of-file record, into `image`.
bool read_records(std::string_view text, hex_image& image, hex_read_error& error) {
    error = {};
    line_splitter lines(text);
    hex_assembler assembler(text.size());
    hex_record record;
    std::uint32_t extended_offset = 0;
    std::size_t number = 0;
    std::string_view line;
    bool overlong = false;
    while (true) {
        if (!lines.next(line, overlong)) {
            return fail(error, hex_defect::no_end_record, 0);
        }
        ++number;
        line = trim_view(line);
        if (line.empty()) {
            continue;
        }
        if (const hex_defect defect = take_record(line, overlong, record);
            defect != hex_defect::none) {
            return fail_line(error, defect, line, number, text.size());
        }
        switch (static_cast<hex_record_type>(record.type)) {
            case hex_record_type::data:
                if (const hex_defect defect =
                        assembler.add(record.offset + extended_offset, record.data(), number);
                    defect != hex_defect::none) {
                    return fail(error, defect, number);
                }
                break;
            case hex_record_type::end_of_file: {
                std::size_t conflict = 0;
                if (const hex_defect defect = assembler.finish(image, conflict);
                    defect != hex_defect::none) {
                    return fail(error, defect, conflict);
                }
                return true;
            }
            case hex_record_type::extended_segment_address:
            case hex_record_type::extended_linear_address:
                if (record.count != 2) {
                    return fail(error, hex_defect::bad_address_record, number);
                }
                extended_offset = address_bits(record);
                break;
            default:
                break;  // start addresses (03, 05) and unknown types place no data
        }
    }
}

// The defect of a file that could not be read.
hex_defect file_defect(input_problem problem) {
    switch (problem) {
        case input_problem::too_large:
            return hex_defect::file_too_large;
        case input_problem::read_error:
            return hex_defect::read_error;
        default:
            return hex_defect::cannot_open;
    }
}

}  // namespace

bool read_intel_hex(hex_image& image, const std::string& path, hex_read_error& error) {
    const input_file file = read_input(path, hex_file_limit);
    if (!file) {
        error = {file_defect(file.failure.problem), 0, file.failure};
        return false;
    }
    return read_records({reinterpret_cast<const char*>(file->data()), file->size()}, image, error);
}

bool read_intel_hex_text(hex_image& image, std::string_view text, hex_read_error& error) {
    if (text.size() > hex_file_limit) {
        return fail(error, hex_defect::file_too_large, 0);
    }
    return read_records(text, image, error);
}

}  // namespace ostrel
