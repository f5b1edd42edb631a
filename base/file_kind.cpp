// Telling a file's kind from its bytes, and the words for a file of the wrong kind.
#include "base/file_kind.h"

#include <algorithm>

namespace ostrel {
namespace {

// A format recognised by the bytes it starts with (at `offset`).
struct format_mark {
    std::string_view magic;
    std::size_t offset;
    const char* name;
};

// Files that are given by mistake: archives (an image packed in one), pictures, documents
// and programs. Each mark is at least three bytes long, so that a Fullrom image, whose first
// bytes are the bridge's config, is hardly ever taken for one of them.
constexpr format_mark known_formats[] = {
    {{"\x1F\x8B\x08", 3}, 0, "a gzip archive"},
    {{"\xFD"
      "7zXZ\0",
      6},
     0,
     "an xz archive"},
    {"BZh", 0, "a bzip2 archive"},
    {"\x28\xB5\x2F\xFD", 0, "a zstd archive"},
    {"PK\x03\x04", 0, "a zip archive"},
    {"PK\x05\x06", 0, "a zip archive"},
    {"7z\xBC\xAF\x27\x1C", 0, "a 7z archive"},
    {"ustar", 257, "a tar archive"},
    {"\x89PNG\r\n\x1A\n", 0, "a PNG image"},
    {"\xFF\xD8\xFF", 0, "a JPEG image"},
    {"%PDF-", 0, "a PDF document"},
    {"\x7F"
     "ELF",
     0, "an ELF program"},
};

bool starts_with_at(std::span<const std::uint8_t> bytes, std::size_t offset,
                    std::string_view magic) {
    return bytes.size() >= offset + magic.size() &&
           std::equal(magic.begin(), magic.end(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                      [](char m, std::uint8_t b) { return static_cast<std::uint8_t>(m) == b; });
}

// A Windows program: "MZ", and at the offset that the DOS header gives at 0x3C, "PE\0\0".
bool windows_program(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t header_offset = 0x3C;
    if (!starts_with_at(bytes, 0, "MZ") || bytes.size() < header_offset + 4) {
        return false;
    }
    const std::size_t pe = bytes[header_offset] | bytes[header_offset + 1] << 8 |
                           bytes[header_offset + 2] << 16 |
                           static_cast<std::size_t>(bytes[header_offset + 3]) << 24;
    return starts_with_at(bytes, pe, {"PE\0\0", 4});
}

bool text_byte(std::uint8_t byte) {
    return (byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\n' || byte == '\r';
}

}  // namespace

bool has_binary_bytes(std::string_view text) {
    std::size_t continuations = 0;  // bytes 0x80 to 0xBF still due to the last lead byte
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (continuations > 0) {
            if (byte < 0x80 || byte > 0xBF) {
                return true;
            }
            --continuations;
        } else if (byte >= 0xC2 && byte <= 0xF4) {
            continuations = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
        } else if (byte >= 0x80 || byte == 0x7F ||
                   (byte < 0x20 && byte != ' ' && (byte < '\t' || byte > '\r'))) {
            return true;
        }
    }
    return false;
}

bool is_plain_text(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), text_byte);
}

const char* foreign_format(std::span<const std::uint8_t> bytes) {
    for (const format_mark& format : known_formats) {
        if (starts_with_at(bytes, format.offset, format.magic)) {
            return format.name;
        }
    }
    return windows_program(bytes) ? "a Windows program" : nullptr;
}

std::string_view binary_not_hex(bool fullrom) {
    return fullrom ? "binary data of 512 KiB or more, like a Fullrom image: not Intel HEX text (a "
                     "Fullrom image for the bridge goes to -u)"
                   : "binary data, not Intel HEX text (a Fullrom image for the bridge goes to -u)";
}

std::string_view text_not_fullrom() {
    return "not a Fullrom image: the file is text (an Intel HEX file is loaded with -f)";
}

std::string foreign_not_fullrom(const char* format) {
    return std::string("not a Fullrom image: the file is ") + format;
}

}  // namespace ostrel
