// The layout check of the requests the program sends, on the fields as the virtual device
// decodes them (sim/request_decode.h).
#include "tests/support/request_layout.h"

#include <algorithm>

#include "sim/bridge_flash.h"
#include "sim/request_decode.h"

namespace ostrel::testing {
namespace {

using bytes = std::span<const std::uint8_t>;

// A bank, a bank but its trailer, or the esm region.
bool checksum_range(std::uint32_t start, std::uint32_t size) {
    const auto is = [&](sim::bridge_area a) { return a.start == start && a.size == size; };
    const auto bank = [&](sim::bridge_area a) {
        return is(a) || is({a.start, a.size - sim::bridge_trailer_size});
    };
    return std::any_of(std::begin(sim::bridge_banks), std::end(sim::bridge_banks), bank) ||
           is(sim::bridge_esm);
}

// `fault` unless the fields are `sound`, and zeros after them.
const char* fields(bytes b, const sim::request_fields& f, bool sound, const char* fault) {
    return !sound ? fault
           : std::all_of(b.begin() + static_cast<std::ptrdiff_t>(f.end), b.end(),
                         [](std::uint8_t x) { return x == 0; })
               ? nullptr
               : "bytes after the request's fields not zero";
}

const char* application_fault(bytes b, const sim::request_fields& f) {
    const std::uint32_t size = sim::bridge_flash_size;
    switch (f.command) {
        case '*':
        case 'N':
            return nullptr;  // bytes 2 to 64 go out as the shared buffer holds them
        case 'B':
        case 'T':
            return fields(b, f, true, nullptr);
        case 'K':
            return fields(b, f, checksum_range(f.address, f.length),
                          "checksum of a range that is neither a bank (with or without its "
                          "trailer) nor the esm region");
        case 'A':
            return fields(
                b, f,
                f.length >= 1 && f.length <= 32 && f.address < size && f.length <= size - f.address,
                "bridge write of a bad size or outside the flash");
        case 'D':
            return fields(b, f, f.confirmed && f.address < size,
                          "bridge erase outside the flash or without the confirmation word");
        default:
            return "a command the application does not know";
    }
}

const char* bootloader_fault(bytes b, const sim::request_fields& f) {
    // In the application area, aligned, and the frame's CRC sound.
    const auto sound = [&f](std::uint32_t size, std::uint32_t alignment) {
        const std::uint32_t at = f.address;
        return at % alignment == 0 && at >= sim::mcu_flash_base &&
               at - sim::mcu_flash_base < sim::mcu_flash_size &&
               size <= sim::mcu_flash_size - (at - sim::mcu_flash_base) && f.crc_ok;
    };
    switch (f.command) {
        case '*':
            return nullptr;
        case 'B':
            return fields(b, f, true, nullptr);
        case 'D':
            return fields(b, f, f.length >= 1 && f.length <= 32 && sound(f.length, 32),
                          "data chunk of a bad size, misaligned, outside the area or bad CRC");
        case 'P':
            return fields(b, f, f.argument == 0 && sound(512, 512),
                          "page misaligned, outside the area or bad CRC");
        case 'e':
            return fields(b, f, f.argument <= 2 && sound(1, f.argument == 1 ? 0x4000 : 0x2000),
                          "erase of a bad mode, misaligned, outside the area or bad CRC");
        case 0x22:
            return f.filled ? nullptr : "fallback erase not filled with 'A'";
        default:
            return "a command the bootloader does not know";
    }
}

}  // namespace

const char* request_fault(bool to_application, bool feature, bytes report) {
    if (report.size() != 65 || report[0] != 0x00 || feature != to_application) {
        return "not 65 bytes, report number 0, on the identity's channel";
    }
    const auto mode = to_application ? sim::usb_mode::application : sim::usb_mode::bootloader;
    const sim::request_fields f = sim::decode_request(mode, report.first<65>());
    return to_application ? application_fault(report, f) : bootloader_fault(report, f);
}

}  // namespace ostrel::testing
