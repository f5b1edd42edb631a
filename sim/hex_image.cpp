// Intel HEX text for the virtual device's users (sim/hex_image.h).
#include "sim/hex_image.h"

#include <algorithm>
#include <span>

#include "sim/device_state.h"
#include "sim/pseudo_random.h"

namespace sim {
namespace {

std::string line_of(std::uint8_t type, std::uint16_t offset, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> fields{static_cast<std::uint8_t>(data.size()),
                                     static_cast<std::uint8_t>(offset >> 8),
                                     static_cast<std::uint8_t>(offset), type};
    fields.insert(fields.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (const std::uint8_t b : fields) {
        sum += b;
    }
    fields.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    std::string line = ":";
    for (const std::uint8_t b : fields) {
        line += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    }
    return line;
}

}  // namespace

std::string hex_line(std::uint8_t type, std::uint16_t offset,
                     const std::vector<std::uint8_t>& data) {
    return line_of(type, offset, data);
}

std::string hex_records(std::uint32_t address, const std::vector<std::uint8_t>& data,
                        std::size_t per_line) {
    per_line = std::clamp<std::size_t>(per_line, 1, 255);
    std::string text;
    std::uint32_t upper = 0;
    for (std::size_t at = 0; at < data.size();) {
        const auto here = static_cast<std::uint32_t>(address + at);
        if (here >> 16 != upper) {
            upper = here >> 16;
            const std::uint8_t segment[2] = {static_cast<std::uint8_t>(upper >> 8),
                                             static_cast<std::uint8_t>(upper)};
            text += line_of(4, 0, segment) + "\n";
        }
        const std::size_t n =
            std::min({per_line, data.size() - at, std::size_t{0x10000} - (here & 0xFFFF)});
        text += line_of(0, static_cast<std::uint16_t>(here), std::span(data).subspan(at, n)) + "\n";
        at += n;
    }
    return text;
}

std::string hex_file(std::uint32_t address, const std::vector<std::uint8_t>& data,
                     std::size_t per_line) {
    return hex_records(address, data, per_line) + hex_eof + "\n";
}

std::string make_hex_text(std::size_t size, std::uint32_t seed, std::size_t record_bytes) {
    return hex_file(mcu_flash_base, pseudo_random_bytes(size, seed), record_bytes);
}

}  // namespace sim
