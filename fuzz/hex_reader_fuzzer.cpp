// Feeds arbitrary bytes to the Intel HEX reader as a file. Besides the sanitizers' checks it
// holds the reader to its promises: an image it accepts lies within its limits and within
// the address space and, written back plainly, reads back the same; a failure names a defect
// and leaves the image alone.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "mcu/hex_reader.h"
#include "tests/mcu/hex_writer.h"

namespace {

// A scratch file for the whole run, rewritten for every input.
struct scratch_file {
    std::string path = "/tmp/fuzz-hex-XXXXXX";

    scratch_file() {
        const int fd = mkstemp(path.data());
        if (fd < 0) {
            std::abort();
        }
        close(fd);
    }
    ~scratch_file() { unlink(path.c_str()); }

    // The file's path, once it holds exactly `size` bytes of `data`.
    const std::string& holding(const void* data, std::size_t size) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size))) {
            std::abort();
        }
        return path;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const scratch_file input;
    static const scratch_file copy;
    ostrel::hex_image image;
    ostrel::hex_read_error error;
    if (!ostrel::read_intel_hex(image, input.holding(data, size), error)) {
        if (error.defect == ostrel::hex_defect::none || image.base_address != 0 ||
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
        const std::string text = ostrel::testing::hex_file(image.base_address, image.data, 32);
        ostrel::hex_image again;
        if (!ostrel::read_intel_hex(again, copy.holding(text.data(), text.size())) ||
            again.base_address != image.base_address || again.data != image.data) {
            std::abort();
        }
    }
    return 0;
}
