#pragma once

// The fields of a request report as the virtual Ostrel reads them, decoded in one place for
// the device's command handlers, its request log, and the tests' and fuzz targets' checks of
// what the program sent. Written from the device's side, sharing no code with the program's
// builders; its CRC-8 is the device's own copy for the same reason.
//
// A request is 65 bytes as the host framed it: byte 0 the report number, byte 1 the command,
// its fields after. Addresses and lengths are little-endian.
//
//   application  'K' address(2..5) length(6..9)             sum of a range of the bridge's flash
//                'A' count(2) address(3..6) data(7..)        write of 1 to 32 bytes
//                'D' 0x80 sector(3) word(4..12)              erase of a 4 KiB sector
//                'D' block(2) 0x00 word(4..12)               erase of a 64 KiB block
//   bootloader   'D' count(2) address(3..6) data(7..) crc    chunk of 1 to 32 bytes for a page
//                'P' 0x00(2) address(3..6) crc(7)            program a page
//                'e' mode(2) address(3..6) crc(7)            erase
//                0x22 'A' x 63                               erase the whole area
// where the CRC covers bytes 1 up to it. Other commands carry no fields.
#include <cstddef>
#include <cstdint>
#include <span>

#include "sim/device_state.h"

namespace sim {

// The little-endian 32-bit number at `at` in `bytes`.
std::uint32_t le32(std::span<const std::uint8_t> bytes, std::size_t at);

// CRC-8 with polynomial 0x07, as the bootloader checks its frames.
std::uint8_t frame_crc8(std::span<const std::uint8_t> bytes);

struct request_fields {
    std::uint8_t report = 0;    // byte 0, the report number (0: none)
    std::uint8_t command = 0;   // byte 1
    std::uint8_t argument = 0;  // byte 2: a count, a block number, the bootloader's erase mode
    // Where the request acts: the start of a sum, a write, a sector or a block, a frame's
    // address; 0 for a command without one.
    std::uint32_t address = 0;
    // The length of a sum, the count of a write or a chunk as sent (byte 2), the size of a
    // sector or a block; 0 for a command without one.
    std::uint32_t length = 0;
    // The data of a write or a chunk (at most the 57 bytes a report holds after its fields),
    // the confirmation word of a bridge erase; empty for other commands.
    std::span<const std::uint8_t> data;
    // The first byte after the fields (and after the CRC of a frame).
    std::size_t end = 2;
    bool sector = false;     // bridge erase: the sector form
    bool confirmed = false;  // bridge erase: the word, and byte 3 zero in the block form
    bool crc_ok = false;     // bootloader frame: the CRC matches bytes 1 up to it
    bool filled = false;     // bootloader 0x22: bytes 2 to 64 all 'A'
};

// The fields of `report` (65 bytes) sent to the device in `mode`: the application's layouts in
// application mode, the bootloader's otherwise.
request_fields decode_request(usb_mode mode, std::span<const std::uint8_t, 65> report);

}  // namespace sim
