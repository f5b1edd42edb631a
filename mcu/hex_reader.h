#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/report.h"

// The Intel HEX reader: turns a file of records into one contiguous image and the address
// of its first byte. It prints nothing; a failed read says why through `hex_read_error`.
namespace ostrel {

// The result of reading a HEX file: `data[i]` belongs at `base_address + i`.
struct hex_image {
    std::uint32_t base_address = 0;
    byte_vector data;
};

// Largest span, lowest to highest data address, and largest total of data bytes a file may
// carry. Twice the microcontroller's application area: every image the device can take
// fits, and no file can make the reader hold more than this.
inline constexpr std::size_t hex_image_limit = 0x100000;

// Longest line, after its leading blanks, that can be a record. The longest record is 521
// characters (255 data bytes); the rest leaves room for trailing blanks.
inline constexpr std::size_t hex_line_limit = 1024;

enum class hex_defect : std::uint8_t {
    none = 0,
    cannot_open,         // the file could not be opened
    read_error,          // the file could not be read to its end
    no_end_record,       // the file ended without an end-of-file record
    line_too_long,       // a record line longer than hex_line_limit
    too_short,           // a record shorter than its fixed fields
    not_hex,             // a character that is not a hexadecimal digit
    odd_digits,          // an odd number of hexadecimal digits
    checksum_mismatch,   // the last byte does not match the rest of the record
    count_mismatch,      // the byte count does not match the data on the line
    bad_address_record,  // an 02 or 04 record without exactly two data bytes
    past_address_space,  // a data record that runs past address 0xFFFFFFFF
    image_too_large,     // the data span or the data in all exceed hex_image_limit
    overlap,             // two records give different bytes for one address
};

// Why a read failed, and on which line (1-based; 0 when no line is to blame).
struct hex_read_error {
    hex_defect defect = hex_defect::none;
    std::size_t line = 0;
};

// A short description of `defect`, e.g. "checksum mismatch".
std::string_view describe(hex_defect defect);

// Reads the HEX file at `path` into `image`. True once the end-of-file record has been
// reached and the records form a consistent image; lines after the end-of-file record are
// not read. Data records are placed at their own addresses whatever their order; gaps
// between them are 0x00, and `base_address` is the lowest address of a data record that
// carries data (of the first data record when none does). Lines that are not records
// (blank, or not starting with ':') are skipped. On false `image` is left as it was and
// `error` says why.
bool read_intel_hex(hex_image& image, const std::string& path, hex_read_error& error);
bool read_intel_hex(hex_image& image, const std::string& path);
// The same for the text of a HEX file held in memory: the bytes of `text` are read exactly
// as the same bytes in a file would be (cannot_open and read_error aside).
bool read_intel_hex_text(hex_image& image, std::string_view text, hex_read_error& error);

}  // namespace ostrel
