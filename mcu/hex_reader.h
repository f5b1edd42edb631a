#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/file_access.h"
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

// The largest HEX file that can describe `area` bytes: every byte in a record of its own
// (":01AAAA00DDCC", 13 characters), each after an extended-address record of its own
// (":02000004AAAACC", 15), CR LF line ends, and the end-of-file record (":00000001FF").
constexpr std::size_t hex_largest_file(std::size_t area) {
    return area * ((13 + 2) + (15 + 2)) + (11 + 2);
}
// Larger files are refused before they are read: the largest HEX file that describes the
// microcontroller's application area (0x7C000 bytes, 16252941 by the rule above) with room to
// spare, and more than twice the usual largest one (one extended-address record per 64 KiB,
// 7618709 bytes). No file makes the program read for long to find out that it is no image.
inline constexpr std::size_t hex_file_limit = std::size_t{16} * 1024 * 1024;

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
    not_record,          // a line that is neither blank nor a record (no ':' first)
    file_too_large,      // a file larger than hex_file_limit, refused before it is read
    binary,              // a line with bytes that no text has: a binary file
    fullrom_like,        // the same in a file like a Fullrom image by its size (base/file_kind.h)
};

// Why a read failed, and on which line (1-based; 0 when no line is to blame).
struct hex_read_error {
    hex_defect defect = hex_defect::none;
    std::size_t line = 0;
    input_failure file;  // why the file could not be read (cannot_open, read_error, file_too_large)
};

// A short description of `defect`, e.g. "checksum mismatch".
std::string describe(hex_defect defect);

// Reads the HEX file at `path` into `image`: the file is read whole (base/file_access.h; a
// file larger than hex_file_limit is refused before it is read), then taken apart line by
// line. True once the end-of-file record has been reached and the records form a consistent
// image; lines after the end-of-file record are not looked at. Data records are placed at
// their own addresses whatever their order; gaps between them are 0x00, and `base_address`
// is the lowest address of a data record that carries data (of the first data record when
// none does). A line ends at LF, CR LF or CR; blank lines are skipped, and so are a UTF-8
// byte-order mark at the start of the file and Ctrl-Z (0x1A) at its end. Any other line that
// does not begin with ':' is refused. A line refused for a byte that no text has (a control
// character other than a blank, or a byte that is not UTF-8) makes the file binary, or like a
// Fullrom image when it is large. On false `image` is left as it was and `error` says why.
bool read_intel_hex(hex_image& image, const std::string& path, hex_read_error& error);
// The same for the text of a HEX file held in memory: the bytes of `text` are read exactly
// as the same bytes in a file would be (cannot_open and read_error aside).
bool read_intel_hex_text(hex_image& image, std::string_view text, hex_read_error& error);

}  // namespace ostrel
