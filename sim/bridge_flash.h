#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/device_state.h"

// The bridge behind the virtual Ostrel's application firmware: 512 KiB of SPI NOR flash.
//
// Flash: erased bytes read 0xFF; a write ('A') can only clear bits (the byte becomes
// old AND new); only an erase ('D') sets them again.
//
// Bank validity: a bank (config 0x00000 and 0x20000, 32 KiB; firmware 0x08000 and
// 0x28000, 96 KiB) is valid when the first and the last byte of its trailer, its last 16
// bytes, are neither 0x00 nor 0xFF. Bits 0 to 3 of the bank status that 'T' answers follow
// from the trailers after every change of the flash (bit 0 config bank 0, bit 1 config
// bank 1, bit 2 firmware bank 0, bit 3 firmware bank 1); bits 4 to 7 are the ones given at
// init and never change. `device_state::bank_status` always holds what 'T' answers.
//
// Bridge version: the firmware bank in use is bank 1 when it is valid, otherwise bank 0
// when it is valid. The 64 bytes just before its trailer (0x1FFB0 or 0x3FFB0) are its
// version field; when they hold text (a printable ASCII character first, then printable
// characters up to an optional NUL, and only NULs after it) 'N' answers that text;
// otherwise, and with no valid firmware bank, 'N' answers the text given at init.
// `device_state::bridge_version` always holds what 'N' answers.
//
// A fresh device: erased flash, except the trailers of the banks that bits 0 to 3 of its
// bank status name valid, whose first and last bytes are stamped 0xA5 and 0x5A.
namespace sim {

inline constexpr std::uint8_t trailer_stamp_first = 0xA5;
inline constexpr std::uint8_t trailer_stamp_last = 0x5A;
inline constexpr std::uint32_t bridge_version_field_size = version_size;
inline constexpr std::uint32_t bridge_trailer_size = 16;

// The four banks in the order of their bits in the bank status, and the esm region.
struct bridge_area {
    std::uint32_t start;
    std::uint32_t size;
};
inline constexpr bridge_area bridge_banks[4] = {
    {0x00000, 0x8000}, {0x20000, 0x8000}, {0x08000, 0x18000}, {0x28000, 0x18000}};
inline constexpr bridge_area bridge_esm = {0x40000, 0x40000};

// Whether bank `index` (0 to 3, as its bit in the bank status) is valid.
bool bank_valid(const device_state& state, std::size_t index);

// The bridge of a device that init_state has just filled in: erases the flash and stamps
// the trailers of the banks that state.bank_status names valid; takes state.bridge_version
// as the text 'N' answers without a version field.
void init_bridge(device_state& state);

// Brings bank_status and bridge_version up to date with the flash.
void refresh_bridge(device_state& state);

// A Fullrom image for tests and demonstrations: 512 KiB of pseudo-random bytes from
// `seed`, each bank's copy in the image at both of its places (so that the update's
// decision finds either bank up to date), valid trailers, and `version` in the version
// field of both firmware copies (no version field when it is empty).
std::vector<std::uint8_t> make_fullrom_image(std::uint32_t seed, const std::string& version);

}  // namespace sim
