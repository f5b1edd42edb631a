// The program's tasks against a device whose every reply, and whether it can be opened and
// takes a request, comes from the fuzzer's bytes (fuzz/scripted_device.h). The first byte
// picks the options (-v, -r, -b, -x, -f with a small HEX file, -u with a Fullrom image; no
// option picked means -v);
// the rest is the device's script. The program must end (the stand-in aborts on a run that
// keeps calling a device that is gone), must not crash, and every request it sends must
// have a layout of the protocol, with every erase and write inside the bridge's flash
// (0x00000 to 0x7FFFF) or the microcontroller's application area (0x404000 to 0x47FFFF).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/scripted_device.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/cli_run.h"

namespace {

constexpr std::uint32_t bridge_flash_size = 0x80000;
constexpr std::uint32_t mcu_flash_base = 0x404000;
constexpr std::uint32_t mcu_flash_end = 0x480000;

[[noreturn]] void violation(const char* what) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

std::uint32_t u32_at(const unsigned char* b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

bool in_mcu_area(std::uint64_t address, std::uint64_t size) {
    return address >= mcu_flash_base && address + size <= mcu_flash_end;
}

// The files of -f and -u, made once: three pages of firmware and an image of the bridge.
struct files {
    std::string dir;
    std::string hex;
    std::string fullrom;

    files() {
        char name[] = "/tmp/fuzz-replies-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            std::abort();
        }
        dir = name;
        hex = dir + "/app.hex";
        fullrom = dir + "/bridge.fullrom";
        std::ofstream(hex) << ostrel::testing::hex_file(
            mcu_flash_base, ostrel::testing::random_bytes(3 * 512 - 100, 7), 32);
        std::vector<char> image(bridge_flash_size);
        for (std::size_t i = 0; i < image.size(); ++i) {
            image[i] = static_cast<char>(i * 7 + (i >> 9));
        }
        std::ofstream(fullrom, std::ios::binary)
            .write(image.data(), static_cast<std::streamsize>(image.size()));
    }
    ~files() {
        unlink(hex.c_str());
        unlink(fullrom.c_str());
        rmdir(dir.c_str());
    }
};

}  // namespace

namespace ostrel::fuzz {

void check_request(unsigned short product_id, bool feature, const unsigned char* data,
                   std::size_t length) {
    const unsigned char* const b = data;  // the request's bytes, report number first
    if (length != 65) {
        violation("a request that is not 65 bytes long");
    }
    if (b[0] != 0x00) {
        violation("a request with a report number other than 0");
    }
    const unsigned char command = b[1];
    if (product_id == app_product_id) {
        switch (command) {
            case '*':
            case 'B':
            case 'N':
            case 'T':
                return;
            case 'K':
                if (!feature || std::uint64_t{u32_at(b, 2)} + u32_at(b, 6) > bridge_flash_size) {
                    violation("a checksum range outside the bridge's flash");
                }
                return;
            case 'A':
                if (!feature || b[2] == 0 || b[2] > 32 ||
                    std::uint64_t{u32_at(b, 3)} + b[2] > bridge_flash_size) {
                    violation("a bridge write outside its flash or of a bad size");
                }
                return;
            case 'D': {
                const std::uint32_t at =
                    b[2] == 0x80 ? std::uint32_t{b[3]} << 12 : std::uint32_t{b[2]} << 16;
                if (!feature || (b[2] != 0x80 && b[3] != 0) || at >= bridge_flash_size ||
                    std::memcmp(b + 4, "KQWIPEZON", 9) != 0) {
                    violation("a bridge erase outside its flash or without the confirmation");
                }
                return;
            }
            default:
                violation("an application command the program does not have");
        }
    }
    if (product_id != bootloader_product_id || feature) {
        violation(
            "a request on a handle of neither identity, or a feature report to the "
            "bootloader");
    }
    switch (command) {
        case '*':
        case 'B':
        case 0x22:
            return;
        case 'D':
            if (b[2] == 0 || b[2] > 32 || !in_mcu_area(u32_at(b, 3), b[2])) {
                violation("microcontroller data outside its application area");
            }
            return;
        case 'P':
            if (!in_mcu_area(u32_at(b, 3), 512)) {
                violation("a page programmed outside the application area");
            }
            return;
        case 'e':
            if (b[2] > 2 || !in_mcu_area(u32_at(b, 3), 1)) {
                violation("a microcontroller erase outside its application area");
            }
            return;
        default:
            violation("a bootloader command the program does not have");
    }
}

}  // namespace ostrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const files made;
    if (size == 0) {
        return 0;
    }
    const std::uint8_t tasks = data[0];
    std::vector<std::string> args;
    if ((tasks & 0x01) != 0) {
        args.push_back("-v");
    }
    if ((tasks & 0x02) != 0) {
        args.push_back("-r");
    }
    if ((tasks & 0x04) != 0) {
        args.push_back("-b");
    }
    if ((tasks & 0x08) != 0) {
        args.insert(args.end(), {"-x", "KQWIPEZON"});
    }
    if ((tasks & 0x10) != 0) {
        args.insert(args.end(), {"-f", made.hex});
    }
    // -u reads its half-megabyte file four times, which costs more than anything else the
    // program does here: one input in four takes it.
    if ((tasks & 0x60) == 0x60) {
        args.insert(args.end(), {"-u", made.fullrom});
    }
    if (args.empty()) {
        args.push_back("-v");
    }
    ostrel::fuzz::start_script(data + 1, size - 1);
    const auto result = ostrel::testing::run_cli(args);
    if (result.status != 0 && result.status != 1) {
        violation("an exit status other than 0 or 1");
    }
    return 0;
}
