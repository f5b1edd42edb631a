#include "mcu/hex_reader.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "device/file_access.h"
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

// The upper address bits that an 02 or 04 record sets.
std::uint32_t address_bits(const hex_record& record) {
    const std::uint32_t value =
        static_cast<std::uint32_t>(record.data()[0]) << 8 | record.data()[1];
    return record.type == static_cast<std::uint8_t>(hex_record_type::extended_segment_address)
               ? value << 4
               : value << 16;
}

// The records of `lines`, up to the end-of-file record, into `image`.
bool read_records(line_source& lines, hex_image& image, hex_read_error& error) {
    error = {};
    hex_assembler assembler;
    hex_record record;
    std::uint32_t extended_offset = 0;
    std::size_t number = 0;
    std::string_view line;
    bool overlong = false;
    std::size_t size = 0;
    while (true) {
        // The usual record line is taken as it lies in the buffer; anything else, and any
        // record with a defect, goes the general way, which names the defect.
        if (lines.peek_record(line, size) && decode_record(line, record) == hex_defect::none) {
            lines.skip(size);
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
            if (line.empty() || line[0] != ':') {
                continue;  // not a record
            }
            if (overlong) {
                return fail(error, hex_defect::line_too_long, number);
            }
            if (const hex_defect defect = decode_record(line, record); defect != hex_defect::none) {
                return fail(error, defect, number);
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
    if (!file) {
        error = {hex_defect::cannot_open, 0};
        return false;
    }
    line_source lines(file.get(), hex_line_limit);
    return read_records(lines, image, error);
}

bool read_intel_hex_text(hex_image& image, std::string_view text, hex_read_error& error) {
    line_source lines(text, hex_line_limit);
    return read_records(lines, image, error);
}

bool read_intel_hex(hex_image& image, const std::string& path) {
    hex_read_error error;
    return read_intel_hex(image, path, error);
}

}  // namespace ostrel
