// ostrel_hex_to_binary IN.hex OUT.bin: the program's HEX reader as a whole process, for
// timing against other converters. Writes the image from its lowest address, as
// `objcopy -I ihex -O binary` does. Status 1 (and the defect on stderr) when the file is
// refused or the image cannot be written.
#include <cstdio>
#include <string>

#include "mcu/hex_reader.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: ostrel_hex_to_binary IN.hex OUT.bin\n", stderr);
        return 2;
    }
    ostrel::hex_image image;
    ostrel::hex_read_error error;
    if (!ostrel::read_intel_hex(image, argv[1], error)) {
        const std::string why = ostrel::describe(error.defect);
        std::fprintf(stderr, "%s: line %zu: %.*s\n", argv[1], error.line,
                     static_cast<int>(why.size()), why.data());
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        std::perror(argv[2]);
        return 1;
    }
    const bool written =
        std::fwrite(image.data.data(), 1, image.data.size(), out) == image.data.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
