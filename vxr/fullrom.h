#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device/report.h"

// Fullrom files: raw images of the bridge's flash, byte n of the file being byte n of the
// flash. Only the first 512 KiB are used.
namespace ostrel::vxr {

// The bytes an image must have: every region up to the end of the esm region.
inline constexpr std::size_t fullrom_image_size = 0x80000;
// Files longer than this are not read whole (a Fullrom image is 512 KiB; anything far
// beyond is not one) so that no file makes the program hold unbounded memory.
inline constexpr std::size_t fullrom_file_limit = std::size_t{16} * 1024 * 1024;

// Whether a file of `length` bytes can be used as an image.
constexpr bool fullrom_length_ok(std::size_t length) {
    return length >= fullrom_image_size && length <= fullrom_file_limit;
}

// Why an image of the right length must not be written to the bridge, in words for the
// user; nothing when it may. A Fullrom image carries no mark of its own, so what can be
// told is what it is not. Refused are files that a known mark at their start names as
// something else (an archive such as gzip, xz, bzip2, zstd, zip, 7z or tar, a PNG or JPEG
// picture, a PDF document, an ELF or Windows program), text (an Intel HEX file, which is for
// the microcontroller, or any other), and images whose config or firmware bank-0 copy, the
// copy the update writes, has a trailer that the bridge would not start from: 0x00 (the
// mark of an invalidated bank) or 0xFF (erased) at its first or last byte. Writing such a
// copy and then invalidating the old bank would leave the bridge without a valid bank.
std::optional<std::string> fullrom_refusal(std::span<const std::uint8_t> image);

// Reads a file whole in binary mode: its bytes in order, an empty vector for an empty file,
// nothing when it cannot be opened or read. A file longer than `limit` is read only up to
// limit + 1 bytes, enough to tell that it is too long.
std::optional<byte_vector> read_file(const std::string& path,
                                     std::size_t limit = fullrom_file_limit);

// The wrap-around 32-bit sum of the bytes of [first, last), as the device's 'K' gives it
// for a flash range; 0 for an empty range.
std::uint32_t sum_bytes(const std::uint8_t* first, const std::uint8_t* last);

}  // namespace ostrel::vxr
