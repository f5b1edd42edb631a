// Feeds arbitrary bytes to the Intel HEX reader as the text of a file. Besides the
// sanitizers' checks it holds the reader to its promises: an image it accepts lies within
// its limits and within the address space and, written back plainly, reads back the same;
// a failure names a defect and leaves the image alone. The text is read from memory through
// the same line source and record code as a file; the fuzz build gives the line source a
// 7-byte buffer, so that lines straddle buffer refills at every offset.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/hex_round_trip.h"
#include "mcu/hex_reader.h"

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
        const std::string again_text = ostrel::fuzz::hex_text_of(image.base_address, image.data);
        ostrel::hex_image again;
        ostrel::hex_read_error again_error;
        if (!ostrel::read_intel_hex_text(again, again_text, again_error) ||
            again.base_address != image.base_address || again.data != image.data) {
            std::abort();
        }
    }
    return 0;
}
