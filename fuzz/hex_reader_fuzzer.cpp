// Feeds arbitrary bytes to the Intel HEX reader as a file. Besides the sanitizers' checks it
// holds the reader to its promises: an image it accepts lies within its limits and within
// the address space, and a failure names a defect.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
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

// The image as plain ascending HEX: 04 records and data records of up to 32 bytes.
std::string write_hex(const ostrel::hex_image& image) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    const auto record = [&](std::uint8_t type, std::uint16_t offset, const std::uint8_t* data,
                            std::size_t count) {
        std::uint8_t bytes[4 + 32];
        bytes[0] = static_cast<std::uint8_t>(count);
        bytes[1] = static_cast<std::uint8_t>(offset >> 8);
        bytes[2] = static_cast<std::uint8_t>(offset);
        bytes[3] = type;
        std::uint8_t sum = 0;
        text += ':';
        for (std::size_t i = 0; i < 4 + count; ++i) {
            const std::uint8_t b = i < 4 ? bytes[i] : data[i - 4];
            sum = static_cast<std::uint8_t>(sum + b);
            text += digits[b >> 4];
            text += digits[b & 15];
        }
        const auto check = static_cast<std::uint8_t>(0x100 - sum);
        text += digits[check >> 4];
        text += digits[check & 15];
        text += '\n';
    };
    std::uint32_t upper = 0;
    for (std::size_t at = 0; at < image.data.size();) {
        const std::uint64_t address = std::uint64_t{image.base_address} + at;
        if (address >> 16 != upper) {
            upper = static_cast<std::uint32_t>(address >> 16);
            const std::uint8_t upper_bytes[2] = {static_cast<std::uint8_t>(upper >> 8),
                                                 static_cast<std::uint8_t>(upper)};
            record(4, 0, upper_bytes, 2);
        }
        const std::size_t room = 0x10000 - (address & 0xFFFF);
        const std::size_t count = std::min({std::size_t{32}, image.data.size() - at, room});
        record(0, static_cast<std::uint16_t>(address), image.data.data() + at, count);
        at += count;
    }
    return text + ":00000001FF\n";
}

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
        // Written back plainly, the image reads back the same.
        if (!image.data.empty()) {
            static scratch_file copy;
            const std::string text = write_hex(image);
            copy.write_all(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
            ostrel::hex_image again;
            if (!ostrel::read_intel_hex(again, copy.path) ||
                again.base_address != image.base_address || again.data != image.data) {
                std::abort();
            }
        }
    } else if (error.defect == ostrel::hex_defect::none ||
               (image.base_address != 0 || !image.data.empty())) {
        std::abort();  // a failure always says why and leaves the image alone
    }
    return 0;
}
