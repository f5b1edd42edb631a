// Feeds arbitrary bytes to the Intel HEX reader as a file. Besides the sanitizers' checks it
// holds the reader to its promises: an image it accepts lies within its limits and within
// the address space, and a failure names a defect.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "mcu/hex_reader.h"

namespace {

// One scratch file for the whole run, rewritten for every input.
struct scratch_file {
    std::string path;
    int fd = -1;

    scratch_file() {
        char name[] = "/tmp/fuzz-hex-XXXXXX";
        fd = mkstemp(name);
        if (fd < 0) {
            std::abort();
        }
        path = name;
    }
    ~scratch_file() {
        close(fd);
        unlink(path.c_str());
    }

    void write_all(const std::uint8_t* data, std::size_t size) {
        if (ftruncate(fd, 0) != 0) {
            std::abort();
        }
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) {
                std::abort();
            }
            done += static_cast<std::size_t>(n);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static scratch_file file;
    file.write_all(data, size);
    ostrel::hex_image image;
    ostrel::hex_read_error error;
    if (ostrel::read_intel_hex(image, file.path, error)) {
        if (error.defect != ostrel::hex_defect::none ||
            image.data.size() > ostrel::hex_image_limit ||
            std::uint64_t{image.base_address} + image.data.size() > std::uint64_t{1} << 32) {
            std::abort();
        }
    } else if (error.defect == ostrel::hex_defect::none ||
               (image.base_address != 0 || !image.data.empty())) {
        std::abort();  // a failure always says why and leaves the image alone
    }
    return 0;
}
