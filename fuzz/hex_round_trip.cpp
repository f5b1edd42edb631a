#include "fuzz/hex_round_trip.h"

#include <algorithm>

#include "tests/mcu/hex_writer.h"

namespace ostrel::fuzz {

// Records for the 32-byte pieces of the image that are not all 0x00, and always for the
// first and the last piece, which fix the base address and the length: the reader fills the
// gaps between records with 0x00, so the text stands for the whole image while a mostly
// empty image of a megabyte takes a few lines. Each piece starts from a cleared extended
// address, so that the writer's own 04 records place it.
std::string hex_text_of(std::uint32_t base_address, const std::vector<std::uint8_t>& data) {
    constexpr std::size_t piece = 32;
    const std::string clear = testing::hex_line(4, 0, {0x00, 0x00}) + "\n";
    std::string text;
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const auto first = data.begin() + static_cast<std::ptrdiff_t>(at);
        const auto last =
            data.begin() + static_cast<std::ptrdiff_t>(std::min(at + piece, data.size()));
        const bool edge = at == 0 || at + piece >= data.size();
        if (edge || std::any_of(first, last, [](std::uint8_t b) { return b != 0; })) {
            text += clear;
            text += testing::hex_records(static_cast<std::uint32_t>(base_address + at),
                                         testing::bytes(first, last), piece);
        }
    }
    return text + testing::hex_eof + "\n";
}

}  // namespace ostrel::fuzz
