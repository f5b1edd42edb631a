#include "mcu/hex_reader.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "base/file_access.h"
#include "mcu/hex_assembler.h"
#include "mcu/hex_record.h"
#include "mcu/hex_text.h"
#include "mcu/line_source.h"

namespace ostrel {
namespace {

struct file_closer {
    // The file is only read: a failed close loses nothing.
    void operator()(std::FILE* file) const { static_cast<void>(std::fclose(file)); }
};

bool fail(hex_read_error& error, hex_defect defect, std::size_t line) {
    error = {defect, line};
    return false;
}

// Whether `line` holds a byte that no text has: a control character other than a blank, or a
// byte that UTF-8 does not allow where it stands. A sequence cut short at the end of the line
// (which may have been cut at the line limit) counts as text.
bool has_binary_bytes(std::string_view line) {
    std::size_t continuations = 0;  // bytes 0x80 to 0xBF still due to the last lead byte
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (continuations > 0) {
            if (byte < 0x80 || byte > 0xBF) {
                return true;
            }
            --continuations;
        } else if (byte >= 0xC2 && byte <= 0xF4) {
            continuations = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
        } else if (byte >= 0x80 || byte == 0x7F || (byte < 0x20 && !is_hex_blank(c))) {
            return true;
        }
    }
    return false;
}

// A line refused for `defect`, as the user is told: a line of binary bytes makes the file
// binary (every line before it was a record or blank), and a large binary file is most likely
// the bridge's Fullrom image.
bool fail_line(hex_read_error& error, hex_defect defect, std::string_view line, std::size_t number,
               std::uintmax_t file_size) {
    if (has_binary_bytes(line)) {
        return fail(error,
                    file_size >= hex_fullrom_size ? hex_defect::fullrom_like : hex_defect::binary,
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

// The records of `lines`, of a text of `size` bytes, up to the end-of-file record, into
// `image`.
bool read_records(line_source& lines, std::uintmax_t size, hex_image& image,
                  hex_read_error& error) {
    error = {};
    if (size > hex_file_limit) {
        return fail(error, hex_defect::file_too_large, 0);
    }
    hex_assembler assembler;
    hex_record record;
    std::uint32_t extended_offset = 0;
    std::size_t number = 0;
    std::string_view line;
    bool overlong = false;
    std::size_t record_size = 0;
    while (true) {
        // The usual record line is taken as it lies in the buffer; anything else, and any
        // record with a defect, goes the general way, which names the defect.
        if (lines.peek_record(line, record_size) &&
            decode_record(line, record) == hex_defect::none) {
            lines.skip(record_size);
            ++number;
        } else {
            const line_source::status status = lines.next(line, overlong);
            if (status == line_source::status::error) {
                return fail(error, hex_defect::read_error, number + 1);
            }
            if (status == line_source::status::end) {
                return fail(error, hex_defect::no_end_record, 0);
            }
            ++number;
            line = trim_view(line);
            if (line.empty()) {
                continue;
            }
            if (const hex_defect defect = take_record(line, overlong, record);
                defect != hex_defect::none) {
                return fail_line(error, defect, line, number, size);
            }
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

}  // namespace

bool read_intel_hex(hex_image& image, const std::string& path, hex_read_error& error) {
    // Only a regular file: opening a FIFO would wait for a writer, and a device such as
    // /dev/zero never ends.
    std::error_code not_regular;
    const bool regular = std::filesystem::is_regular_file(file_path(path), not_regular);
    // In binary mode, as on every platform: a Ctrl-Z does not end the file on Windows.
    const std::unique_ptr<std::FILE, file_closer> file(regular ? open_for_reading(path) : nullptr);
    std::error_code no_size;
    const std::uintmax_t size = regular ? std::filesystem::file_size(file_path(path), no_size) : 0;
    if (!file || no_size) {
        error = {hex_defect::cannot_open, 0};
        return false;
    }
    line_source lines(file.get(), hex_line_limit);
    return read_records(lines, size, image, error);
}

bool read_intel_hex_text(hex_image& image, std::string_view text, hex_read_error& error) {
    line_source lines(text, hex_line_limit);
    return read_records(lines, text.size(), image, error);
}

bool read_intel_hex(hex_image& image, const std::string& path) {
    hex_read_error error;
    return read_intel_hex(image, path, error);
}

}  // namespace ostrel
