#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// What kind of file the user gave, told from its bytes: text or binary, like the bridge's
// Fullrom image, or a format of its own (an archive, a picture, a program); and the words the
// user is told when a file is of the wrong kind. The HEX reader and the Fullrom checks share
// them.
namespace ostrel {

// The size of a Fullrom image, the bridge's firmware: 512 KiB.
inline constexpr std::size_t fullrom_size = 0x80000;

// Whether `text` holds a byte that no text has: a control character other than a blank
// (space, tab, LF, VT, FF, CR), or a byte that UTF-8 does not allow where it stands. A
// sequence cut short at the end counts as text (a line may have been cut at a limit).
bool has_binary_bytes(std::string_view text);

// Whether every byte of `bytes` is printable ASCII, a tab, LF or CR: plain text, such as an
// Intel HEX file.
bool is_plain_text(std::span<const std::uint8_t> bytes);

// What the first bytes of a file show it to be when they are the mark of a known format
// (e.g. "a gzip archive"): archives (gzip, xz, bzip2, zstd, zip, 7z, tar), PNG and JPEG
// pictures, PDF documents, ELF and Windows programs. Null for any other file.
const char* foreign_format(std::span<const std::uint8_t> bytes);

// Whether a binary file of `size` bytes is most likely the bridge's Fullrom image.
constexpr bool fullrom_sized(std::size_t size) {
    return size >= fullrom_size;
}

// The words for a binary file given as Intel HEX; `fullrom`: one that is fullrom_sized.
std::string_view binary_not_hex(bool fullrom);

// The words for a file given as a Fullrom image that is text, or of the `format` that
// foreign_format() named.
std::string_view text_not_fullrom();
std::string foreign_not_fullrom(const char* format);

}  // namespace ostrel
