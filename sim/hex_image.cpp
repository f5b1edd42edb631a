#include "sim/hex_image.h"

#include <algorithm>
#include <cstdio>

#include "sim/device_state.h"

namespace sim {

std::string make_hex_text(std::size_t size, std::uint32_t seed, std::size_t record_bytes) {
    record_bytes = std::clamp<std::size_t>(record_bytes, 1, 255);
    std::uint32_t x = seed == 0 ? 0x9E3779B9 : seed;
    std::string text;
    char field[16];
    const auto record = [&](std::uint8_t type, std::uint16_t offset, const std::uint8_t* data,
                            std::size_t count) {
        unsigned sum = static_cast<unsigned>(count + (offset >> 8) + (offset & 0xFF) + type);
        std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(count), offset,
                      type);
        text += field;
        for (std::size_t i = 0; i < count; ++i) {
            std::snprintf(field, sizeof field, "%02X", data[i]);
            text += field;
            sum += data[i];
        }
        std::snprintf(field, sizeof field, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += field;
    };
    std::uint32_t upper = 0xFFFFFFFF;
    std::uint8_t data[255];
    for (std::size_t done = 0; done < size; done += record_bytes) {
        const std::uint32_t address = mcu_flash_base + static_cast<std::uint32_t>(done);
        if (address >> 16 != upper) {
            upper = address >> 16;
            const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(upper >> 8),
                                           static_cast<std::uint8_t>(upper)};
            record(0x04, 0, bytes, 2);
        }
        const std::size_t count = std::min(record_bytes, size - done);
        for (std::size_t i = 0; i < count; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            data[i] = static_cast<std::uint8_t>(x >> 24);
        }
        record(0x00, static_cast<std::uint16_t>(address & 0xFFFF), data, count);
    }
    record(0x01, 0, nullptr, 0);
    return text;
}

}  // namespace sim
