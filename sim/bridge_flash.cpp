// The bridge's flash commands of the application firmware: 'T', 'K', 'A', and 'D' in its
// sector and block forms. The rules are in sim/bridge_flash.h.
#include "sim/bridge_flash.h"

#include <algorithm>
#include <cstring>

#include "sim/model.h"
#include "sim/pseudo_random.h"
#include "sim/request_decode.h"

namespace sim {
namespace {

constexpr std::uint32_t trailer_size = bridge_trailer_size;
constexpr std::size_t max_chunk = 32;

using bank = bridge_area;
constexpr const bridge_area (&banks)[4] = bridge_banks;
constexpr std::size_t fw_bank0 = 2;
constexpr std::size_t fw_bank1 = 3;

std::uint32_t trailer_of(const bank& b) {
    return b.start + b.size - trailer_size;
}

bool trailer_valid(const device_state& state, const bank& b) {
    const auto usable = [](std::uint8_t byte) { return byte != 0x00 && byte != 0xFF; };
    const std::uint32_t trailer = trailer_of(b);
    return usable(state.bridge_flash[trailer]) &&
           usable(state.bridge_flash[trailer + trailer_size - 1]);
}

std::uint8_t trailer_bits(const device_state& state) {
    std::uint8_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        if (trailer_valid(state, banks[i])) {
            bits |= static_cast<std::uint8_t>(1u << i);
        }
    }
    return bits;
}

// The version text of the firmware bank in use, if its version field holds text.
const char* version_field_text(const device_state& state) {
    const bank* in_use = trailer_valid(state, banks[fw_bank1])   ? &banks[fw_bank1]
                         : trailer_valid(state, banks[fw_bank0]) ? &banks[fw_bank0]
                                                                 : nullptr;
    if (in_use == nullptr) {
        return nullptr;
    }
    const std::uint8_t* field =
        state.bridge_flash + trailer_of(*in_use) - bridge_version_field_size;
    const auto printable = [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; };
    if (!printable(field[0])) {
        return nullptr;
    }
    bool ended = false;
    for (std::size_t i = 1; i < bridge_version_field_size; ++i) {
        if (field[i] == 0x00) {
            ended = true;
        } else if (ended || !printable(field[i])) {
            return nullptr;
        }
    }
    return reinterpret_cast<const char*>(field);
}

// Whether [address, address + length) lies inside the flash.
bool inside(std::uint32_t address, std::uint64_t length) {
    return std::uint64_t{address} + length <= bridge_flash_size;
}

command_outcome reply(std::uint8_t code) {
    command_outcome outcome;
    outcome.replies = true;
    outcome.reply[0] = code;
    return outcome;
}

command_outcome checksum(const device_state& state, const request_fields& request) {
    const std::uint32_t address = request.address;
    const std::uint32_t length = request.length;
    if (!inside(address, length)) {
        return reply('E');
    }
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < length; ++i) {
        sum += state.bridge_flash[address + i];
    }
    command_outcome outcome = reply('K');
    outcome.reply[1] = 4;
    for (std::size_t i = 0; i < 4; ++i) {
        outcome.reply[2 + i] = static_cast<std::uint8_t>(sum >> (8 * i));
    }
    return outcome;
}

command_outcome write_chunk(device_state& state, const request_fields& request, bool apply) {
    const std::size_t count = request.length;
    const std::uint32_t address = request.address;
    if (count == 0 || count > max_chunk || !inside(address, count)) {
        return reply('E');
    }
    if (apply) {
        for (std::size_t i = 0; i < count; ++i) {
            state.bridge_flash[address + i] &= request.data[i];
        }
        refresh_bridge(state);
    }
    return reply('$');
}

// Sector form: 'D', 0x80, sector number; block form: 'D', block number, 0x00. Both carry
// the confirmation word in bytes 4 to 12; without it nothing is erased.
command_outcome erase(device_state& state, const request_fields& request, bool apply) {
    const std::uint32_t start = request.address;
    const std::uint32_t size = request.length;
    if (!request.confirmed || !inside(start, size)) {
        return reply('E');
    }
    if (apply) {
        std::memset(state.bridge_flash + start, 0xFF, size);
        refresh_bridge(state);
    }
    return reply('$');
}

}  // namespace

bool bank_valid(const device_state& state, std::size_t index) {
    return trailer_valid(state, banks[index]);
}

void refresh_bridge(device_state& state) {
    state.bank_status = static_cast<std::uint8_t>((state.bank_status & 0xF0) | trailer_bits(state));
    const char* text = version_field_text(state);
    std::memcpy(state.bridge_version, text != nullptr ? text : state.bridge_base_version,
                version_size);
}

void init_bridge(device_state& state) {
    std::memcpy(state.bridge_base_version, state.bridge_version, version_size);
    std::memset(state.bridge_flash, 0xFF, sizeof state.bridge_flash);
    for (std::size_t i = 0; i < 4; ++i) {
        if ((state.bank_status & (1u << i)) != 0) {
            const std::uint32_t trailer = trailer_of(banks[i]);
            state.bridge_flash[trailer] = trailer_stamp_first;
            state.bridge_flash[trailer + trailer_size - 1] = trailer_stamp_last;
        }
    }
    refresh_bridge(state);
}

void load_bridge_flash(device_state& state, std::span<const std::uint8_t> image) {
    std::memset(state.bridge_flash, 0xFF, sizeof state.bridge_flash);
    std::copy_n(image.begin(), std::min<std::size_t>(image.size(), bridge_flash_size),
                state.bridge_flash);
    refresh_bridge(state);
}

command_outcome bridge_command(device_state& state, const request_bytes& request, bool apply) {
    const request_fields fields = decode_request(usb_mode::application, request);
    switch (fields.command) {
        case 'T': {
            refresh_bridge(state);
            command_outcome outcome = reply('T');
            outcome.reply[1] = state.bank_status;
            return outcome;
        }
        case 'K':
            return checksum(state, fields);
        case 'A':
            return write_chunk(state, fields, apply);
        case 'D':
            return erase(state, fields, apply);
        default:
            return reply('E');  // a command the firmware does not know
    }
}

std::vector<std::uint8_t> make_fullrom_image(std::uint32_t seed, const std::string& version) {
    std::vector<std::uint8_t> image = pseudo_random_bytes(bridge_flash_size, seed);
    for (const std::size_t first : {std::size_t{0}, fw_bank0}) {
        const bank& b = banks[first];
        const std::uint32_t trailer = trailer_of(b);
        for (const std::uint32_t at : {trailer, trailer + trailer_size - 1}) {
            if (image[at] == 0x00 || image[at] == 0xFF) {
                image[at] = 0x42;
            }
        }
        if (first == fw_bank0 && !version.empty()) {
            const std::uint32_t field = trailer - bridge_version_field_size;
            std::fill_n(image.begin() + field, bridge_version_field_size, 0x00);
            std::copy_n(version.begin(), std::min<std::size_t>(version.size(), version_size),
                        image.begin() + field);
        }
        // The bank 1 copy is the bank 0 copy.
        const bank& twin = banks[first + 1];
        std::copy_n(image.begin() + b.start, b.size, image.begin() + twin.start);
    }
    return image;
}

}  // namespace sim
