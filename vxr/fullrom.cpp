// Fullrom images: what refuses a file as one, reading a file whole, and the byte sums the
// device's 'K' gives (vxr/fullrom.h).
#include "vxr/fullrom.h"

#include "base/file_access.h"
#include "vxr/flash_map.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace ostrel::vxr {
namespace {

bool text_byte(std::uint8_t byte) {
    return (byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\n' || byte == '\r';
}

// A kind of file recognised by the bytes it starts with (at `offset`).
struct file_kind {
    std::string_view magic;
    std::size_t offset;
    const char* name;
};

// Files that are given to -u by mistake: archives (a Fullrom image packed in one), pictures,
// documents and programs. Each mark is at least three bytes long, so that a Fullrom image,
// whose first bytes are the bridge's config, is hardly ever taken for one of them.
constexpr file_kind known_kinds[] = {
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

bool starts_with_at(std::span<const std::uint8_t> image, std::size_t offset,
                    std::string_view magic) {
    return image.size() >= offset + magic.size() &&
           std::equal(magic.begin(), magic.end(),
                      image.begin() + static_cast<std::ptrdiff_t>(offset),
                      [](char m, std::uint8_t b) { return static_cast<std::uint8_t>(m) == b; });
}

// A Windows program: "MZ", and at the offset that the DOS header gives at 0x3C, "PE\0\0".
bool windows_program(std::span<const std::uint8_t> image) {
    constexpr std::size_t header_offset = 0x3C;
    if (!starts_with_at(image, 0, "MZ") || image.size() < header_offset + 4) {
        return false;
    }
    const std::size_t pe = image[header_offset] | image[header_offset + 1] << 8 |
                           image[header_offset + 2] << 16 |
                           static_cast<std::size_t>(image[header_offset + 3]) << 24;
    return starts_with_at(image, pe, {"PE\0\0", 4});
}

// What kind of file `image` is by its first bytes, when it is a known one that is no Fullrom
// image; null otherwise.
const char* known_kind(std::span<const std::uint8_t> image) {
    for (const file_kind& kind : known_kinds) {
        if (starts_with_at(image, kind.offset, kind.magic)) {
            return kind.name;
        }
    }
    return windows_program(image) ? "a Windows program" : nullptr;
}

// What the bridge makes of a trailer byte; nothing when the bank can be valid.
std::optional<std::string> trailer_fault(std::uint8_t byte) {
    if (byte == 0x00) {
        return "marked invalid (0x00)";
    }
    if (byte == 0xFF) {
        return "erased (0xFF)";
    }
    return std::nullopt;
}

std::string hex5(std::uint32_t value) {
    char text[16];
    static_cast<void>(std::snprintf(text, sizeof text, "0x%05X", static_cast<unsigned>(value)));
    return text;
}

}  // namespace

std::optional<std::string> fullrom_refusal(std::span<const std::uint8_t> image) {
    if (const char* kind = known_kind(image)) {
        return std::string("not a Fullrom image: the file is ") + kind;
    }
    const auto used = image.first(std::min(image.size(), fullrom_image_size));
    if (std::all_of(used.begin(), used.end(), text_byte)) {
        return "not a Fullrom image: the file is text (an Intel HEX file is loaded with -f)";
    }
    for (const flash_region* region : {&config_region, &fw_region}) {
        const std::uint32_t trailer = trailer_of(*region, region->start[0]);
        for (const std::uint32_t at : {trailer, trailer + trailer_size - 1}) {
            if (at >= image.size()) {
                continue;
            }
            if (const auto fault = trailer_fault(image[at])) {
                return "not a usable Fullrom image: the trailer of its " +
                       std::string(region->name) + " bank (" + hex5(trailer) + " to " +
                       hex5(trailer + trailer_size - 1) + ") is " + *fault + " at " + hex5(at);
            }
        }
    }
    return std::nullopt;
}

std::optional<byte_vector> read_file(const std::string& path, std::size_t limit) {
    // Only a regular file: opening a FIFO would wait for a writer, a device such as
    // /dev/zero never ends, and a pipe would give its bytes to the first of the several
    // reads of the image and nothing to the others.
    std::error_code not_regular;
    if (!std::filesystem::is_regular_file(file_path(path), not_regular)) {
        return std::nullopt;
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(open_for_reading(path),
                                                               &std::fclose);
    if (!file) {
        return std::nullopt;
    }
    byte_vector bytes;
    // A regular file tells its length: one piece for all of it and a byte more, which shows
    // its end, so that the bytes are neither copied nor zeroed twice on the way.
    std::size_t piece = std::size_t{64} * 1024;
    std::error_code error;
    if (const std::uintmax_t length = std::filesystem::file_size(file_path(path), error); !error) {
        piece = static_cast<std::size_t>(std::min<std::uintmax_t>(length, limit)) + 1;
    }
    while (bytes.size() <= limit) {
        const std::size_t want = std::min(piece, limit + 1 - bytes.size());
        const std::size_t had = bytes.size();
        bytes.resize(had + want);
        const std::size_t got = std::fread(bytes.data() + had, 1, want, file.get());
        bytes.resize(had + got);
        if (got < want) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        return std::nullopt;  // e.g. a directory: it opens but cannot be read
    }
    return bytes;
}

// Eight bytes at a time: the bytes of a word are added pairwise into four 16-bit lanes,
// which hold the sums of up to 128 words before they could overflow.
std::uint32_t sum_bytes(const std::uint8_t* first, const std::uint8_t* last) {
    constexpr std::uint64_t low_bytes = 0x00FF00FF00FF00FF;
    constexpr std::size_t words_per_round = 128;  // 128 * 2 * 255 < 65536
    std::uint32_t sum = 0;
    std::size_t left = static_cast<std::size_t>(last - first);
    while (left >= 8) {
        const std::size_t words = std::min(words_per_round, left / 8);
        std::uint64_t lanes = 0;
        for (std::size_t i = 0; i < words; ++i) {
            std::uint64_t word;
            std::memcpy(&word, first + i * 8, 8);
            lanes += (word & low_bytes) + ((word >> 8) & low_bytes);
        }
        lanes = (lanes & 0x0000FFFF0000FFFF) + ((lanes >> 16) & 0x0000FFFF0000FFFF);
        sum += static_cast<std::uint32_t>(lanes) + static_cast<std::uint32_t>(lanes >> 32);
        first += words * 8;
        left -= words * 8;
    }
    for (; first != last; ++first) {
        sum += *first;
    }
    return sum;
}

}  // namespace ostrel::vxr
