#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/file_kind.h"

// Fullrom files: raw images of the bridge's flash, byte n of the file being byte n of the
// flash. Only the first 512 KiB are used. The file is read once, whole, before anything is
// sent (base/file_access.h); every check and every write works on those bytes.
namespace ostrel::vxr {

// The bytes an image must have: every region up to the end of the esm region.
inline constexpr std::size_t fullrom_image_size = fullrom_size;
// Files longer than this are not read (a Fullrom image is 512 KiB; anything far beyond is
// not one) so that no file makes the program hold unbounded memory.
inline constexpr std::size_t fullrom_file_limit = std::size_t{16} * 1024 * 1024;

// Whether a file of `length` bytes can be used as an image.
constexpr bool fullrom_length_ok(std::size_t length) {
    return length >= fullrom_image_size && length <= fullrom_file_limit;
}

// Why an image of the right length must not be written to the bridge, in words for the
// user; nothing when it may. A Fullrom image carries no mark of its own, so what can be
// told is what it is not. Refused are files that a known mark at their start names as
// something else (base/file_kind.h: an archive, a picture, a document, a program), text (an
// Intel HEX file, which is for the microcontroller, or any other), and images whose config
// or firmware bank-0 copy, the copy the update writes, has a trailer that the bridge would
// not start from: 0x00 (the mark of an invalidated bank) or 0xFF (erased) at its first or
// last byte. Writing such a copy and then invalidating the old bank would leave the bridge
// without a valid bank.
std::optional<std::string> fullrom_refusal(std::span<const std::uint8_t> image);

}  // namespace ostrel::vxr
