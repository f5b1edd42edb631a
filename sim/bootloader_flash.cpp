// The bootloader's flash commands over the application flash area 0x404000..0x480000.
//
// The area behaves as flash: erased bytes read 0xFF, programming only clears bits, and a
// page that is not wholly erased is not programmed. Its erase sectors are those of the
// device: 0x404000 (0x1C000 bytes), 0x420000, 0x440000 and 0x460000 (0x20000 bytes each).
//
//   'D' n address data crc   Puts 1 to 32 bytes into the page buffer. The address must be a
//                            multiple of 32 and the bytes must lie in the area. A chunk for
//                            another page than the buffered one starts the buffer afresh.
//   'P' 0 address crc        Programs the page at `address` (a multiple of 512) from the
//                            buffer, then empties it. Only the bytes whose 'D' arrived are
//                            programmed; the others stay 0xFF. A 'P' with no chunk of its
//                            page buffered programs nothing and is accepted.
//   'e' mode address crc     mode 0 (address a multiple of 0x2000): 0x4000 bytes from the
//                            address, cut at the end of its sector.
//                            mode 1 (a multiple of 0x4000): exactly 0x4000 bytes from it.
//                            mode 2 (a multiple of 0x2000): the whole sector holding it.
//   0x22 'A' x 63            Erases the whole area. Refused unless all 63 bytes are 'A'.
//
// Every request gets one reply: byte 0 the status, byte 1 the command echoed.
#include <algorithm>
#include <cstring>

#include "sim/model.h"
#include "sim/request_decode.h"

namespace sim {
namespace {

constexpr std::uint8_t status_ok = 0x00;
constexpr std::uint8_t status_unknown = 0x01;      // no such command
constexpr std::uint8_t status_bad_crc = 0x02;      // the frame's CRC does not match
constexpr std::uint8_t status_bad_address = 0x03;  // outside the area or misaligned
constexpr std::uint8_t status_not_erased = 0x04;   // 'P' on a page that is not erased
constexpr std::uint8_t status_bad_request = 0x05;  // length, mode or fill out of place

constexpr std::uint32_t page_size = device_state::mcu_page_size;
constexpr std::uint32_t chunk_size = 32;
constexpr std::uint32_t area_end = mcu_flash_base + mcu_flash_size;
constexpr std::uint32_t sector_starts[] = {0x404000, 0x420000, 0x440000, 0x460000, area_end};

command_outcome status(std::uint8_t code, std::uint8_t command) {
    command_outcome outcome;
    outcome.replies = true;
    outcome.reply[0] = code;
    outcome.reply[1] = command;
    return outcome;
}

bool in_area(std::uint32_t address, std::uint32_t length) {
    return address >= mcu_flash_base && address < area_end && length <= area_end - address;
}

void erase(device_state& state, std::uint32_t from, std::uint32_t to) {
    std::memset(state.mcu_flash + (from - mcu_flash_base), 0xFF, to - from);
}

std::uint32_t sector_end(std::uint32_t address) {
    return *std::upper_bound(std::begin(sector_starts), std::end(sector_starts), address);
}

std::uint32_t sector_start(std::uint32_t address) {
    return *(std::upper_bound(std::begin(sector_starts), std::end(sector_starts), address) - 1);
}

command_outcome data_chunk(device_state& state, const request_fields& request, bool apply) {
    const std::uint32_t count = request.length;
    if (count == 0 || count > chunk_size) {
        return status(status_bad_request, 'D');
    }
    if (!request.crc_ok) {
        return status(status_bad_crc, 'D');
    }
    const std::uint32_t address = request.address;
    if (address % chunk_size != 0 || !in_area(address, count)) {
        return status(status_bad_address, 'D');
    }
    if (apply) {
        const std::uint32_t page = address - address % page_size;
        if (page != state.mcu_page_address) {
            state.mcu_page_address = page;
            std::memset(state.mcu_page_data, 0xFF, page_size);
            std::memset(state.mcu_page_arrived, 0, page_size);
        }
        const std::uint32_t at = address - page;
        std::memcpy(state.mcu_page_data + at, request.data.data(), count);
        std::memset(state.mcu_page_arrived + at, 1, count);
    }
    return status(status_ok, 'D');
}

command_outcome program_page(device_state& state, const request_fields& request, bool apply) {
    if (!request.crc_ok) {
        return status(status_bad_crc, 'P');
    }
    const std::uint32_t page = request.address;
    if (request.argument != 0 || page % page_size != 0 || !in_area(page, page_size)) {
        return status(request.argument != 0 ? status_bad_request : status_bad_address, 'P');
    }
    if (!apply) {
        return status(status_ok, 'P');
    }
    std::uint8_t* flash = state.mcu_flash + (page - mcu_flash_base);
    const bool erased =
        std::all_of(flash, flash + page_size, [](std::uint8_t b) { return b == 0xFF; });
    const bool buffered = state.mcu_page_address == page;
    state.mcu_page_address = 0;  // every 'P' for a page empties the buffer
    if (!erased) {
        return status(status_not_erased, 'P');
    }
    if (buffered) {
        for (std::uint32_t i = 0; i < page_size; ++i) {
            if (state.mcu_page_arrived[i] != 0) {
                flash[i] &= state.mcu_page_data[i];
            }
        }
    }
    return status(status_ok, 'P');
}

command_outcome erase_command(device_state& state, const request_fields& request, bool apply) {
    if (!request.crc_ok) {
        return status(status_bad_crc, 'e');
    }
    const std::uint8_t mode = request.argument;
    const std::uint32_t address = request.address;
    if (mode > 2) {
        return status(status_bad_request, 'e');
    }
    const std::uint32_t alignment = mode == 1 ? 0x4000 : 0x2000;
    if (address % alignment != 0 || !in_area(address, 1)) {
        return status(status_bad_address, 'e');
    }
    if (apply) {
        switch (mode) {
            case 0:
                erase(state, address, std::min(address + 0x4000, sector_end(address)));
                break;
            case 1:
                erase(state, address, address + 0x4000);
                break;
            default:
                erase(state, sector_start(address), sector_end(address));
                break;
        }
    }
    return status(status_ok, 'e');
}

command_outcome fallback_erase(device_state& state, const request_fields& request, bool apply) {
    if (!request.filled) {
        return status(status_bad_request, 0x22);
    }
    if (apply) {
        erase(state, mcu_flash_base, area_end);
    }
    return status(status_ok, 0x22);
}

}  // namespace

command_outcome bootloader_flash_command(device_state& state, const request_bytes& request,
                                         bool apply) {
    const request_fields fields = decode_request(usb_mode::bootloader, request);
    switch (fields.command) {
        case 'D':
            return data_chunk(state, fields, apply);
        case 'P':
            return program_page(state, fields, apply);
        case 'e':
            return erase_command(state, fields, apply);
        case 0x22:
            return fallback_erase(state, fields, apply);
        default:
            return status(status_unknown, fields.command);
    }
}

}  // namespace sim
