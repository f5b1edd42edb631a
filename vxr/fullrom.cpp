// What makes the bytes of a Fullrom file unfit to be written to the bridge.
#include "vxr/fullrom.h"

#include <algorithm>
#include <cstdio>

#include "vxr/flash_map.h"

namespace ostrel::vxr {
namespace {

// What the bridge makes of a trailer byte; nothing when the bank can be valid.
std::optional<std::string> trailer_fault(std::uint8_t byte) {
    if (byte == 0x00) {
        return "marked invalid (0x00)";
    }
    if (byte == 0xFF) {
        return "erased (0xFF)";
    }
    return std::nullopt;
}

std::string hex5(std::uint32_t value) {
    char text[16];
    static_cast<void>(std::snprintf(text, sizeof text, "0x%05X", static_cast<unsigned>(value)));
    return text;
}

}  // namespace

std::optional<std::string> fullrom_refusal(std::span<const std::uint8_t> image) {
    if (const char* format = foreign_format(image)) {
        return foreign_not_fullrom(format);
    }
    if (is_plain_text(image.first(std::min(image.size(), fullrom_image_size)))) {
        return std::string(text_not_fullrom());
    }
    for (const flash_region* region : {&config_region, &fw_region}) {
        const std::uint32_t trailer = trailer_of(*region, region->start[0]);
        for (const std::uint32_t at : {trailer, trailer + trailer_size - 1}) {
            if (at >= image.size()) {
                continue;
            }
            if (const auto fault = trailer_fault(image[at])) {
                return "not a usable Fullrom image: the trailer of its " +
                       std::string(region->name) + " bank (" + hex5(trailer) + " to " +
                       hex5(trailer + trailer_size - 1) + ") is " + *fault + " at " + hex5(at);
            }
        }
    }
    return std::nullopt;
}

}  // namespace ostrel::vxr
