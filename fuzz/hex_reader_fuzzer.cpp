// Feeds arbitrary bytes to the Intel HEX reader as the text of a file. Besides the
// sanitizers' checks it holds the reader to its promises: an image it accepts lies within
// its limits and within the address space and, written back plainly, reads back the same;
// a failure names a defect and leaves the image alone. The text is read from memory, as the
// bytes of a file are once read whole. This file is built without coverage feedback: the
// fuzzer is to explore the reader, not the tests' writer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mcu/hex_reader.h"
#include "tests/mcu/hex_writer.h"

namespace {

// The image as plain Intel HEX text, with the tests' writer, which shares no code with the
// reader: records for the 32-byte pieces that are not all 0x00, and always for the first and
// the last piece, which fix the base address and the length. The reader fills the gaps
// between records with 0x00, so the text stands for the whole image while a mostly empty
// image of a megabyte takes a few lines. Each piece starts from a cleared extended address,
// so that the writer's own 04 records place it.
std::string hex_text_of(std::uint32_t base_address, const std::vector<std::uint8_t>& data) {
    constexpr std::size_t piece = 32;
    std::string text;
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const auto first = data.begin() + static_cast<std::ptrdiff_t>(at);
        const auto last =
            data.begin() + static_cast<std::ptrdiff_t>(std::min(at + piece, data.size()));
        if (at == 0 || at + piece >= data.size() ||
            std::any_of(first, last, [](std::uint8_t b) { return b != 0; })) {
            text += ostrel::testing::hex_line(4, 0, {0x00, 0x00}) + "\n";
            text += ostrel::testing::hex_records(static_cast<std::uint32_t>(base_address + at),
                                                 {first, last}, piece);
        }
    }
    return text + ostrel::testing::hex_eof + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ostrel::hex_image image;
    ostrel::hex_read_error error;
    if (!ostrel::read_intel_hex_text(image, text, error)) {
        if (error.defect == ostrel::hex_defect::none ||
            error.defect == ostrel::hex_defect::cannot_open ||
            error.defect == ostrel::hex_defect::read_error || image.base_address != 0 ||
            !image.data.empty()) {
            std::abort();  // a failure always says why and leaves the image alone
        }
        return 0;
    }
    if (error.defect != ostrel::hex_defect::none || image.data.size() > ostrel::hex_image_limit ||
        std::uint64_t{image.base_address} + image.data.size() > std::uint64_t{1} << 32) {
        std::abort();
    }
    if (!image.data.empty()) {
        const std::string again_text = hex_text_of(image.base_address, image.data);
        ostrel::hex_image again;
        ostrel::hex_read_error again_error;
        if (!ostrel::read_intel_hex_text(again, again_text, again_error) ||
            again.base_address != image.base_address || again.data != image.data) {
            std::abort();
        }
    }
    return 0;
}
