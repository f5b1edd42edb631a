#pragma once

#include <cstdint>

// The bridge's SPI flash as the program addresses it. A Fullrom image has the same layout:
// byte n of the file is byte n of the flash.
//
//   0x00000 config bank 0    (32 KiB)   bank flag 0x01, trailer 0x07FF0..0x07FFF
//   0x08000 firmware bank 0  (96 KiB)   bank flag 0x04, trailer 0x1FFF0..0x1FFFF
//   0x20000 config bank 1    (32 KiB)   bank flag 0x02, trailer 0x27FF0..0x27FFF
//   0x28000 firmware bank 1  (96 KiB)   bank flag 0x08, trailer 0x3FFF0..0x3FFFF
//   0x40000 esm              (256 KiB)  one copy, no trailer
namespace ostrel::vxr {

inline constexpr std::uint32_t flash_size = 0x80000;
inline constexpr std::uint32_t sector_size = 0x1000;  // 4 KiB erase unit
inline constexpr std::uint32_t block_size = 0x10000;  // 64 KiB erase unit
inline constexpr std::uint32_t flash_blocks = flash_size / block_size;

// The one-byte sector and block numbers of 'D' reach only this far.
inline constexpr std::uint32_t sector_address_limit = 0x100 * sector_size;  // 0x100000
inline constexpr std::uint32_t block_address_limit = 0x100 * block_size;    // 0x1000000

inline constexpr std::uint32_t config_size = 0x8000;
inline constexpr std::uint32_t fw_size = 0x18000;
inline constexpr std::uint32_t esm_size = 0x40000;

inline constexpr std::uint32_t config_bank0_start = 0x00000;
inline constexpr std::uint32_t fw_bank0_start = 0x08000;
inline constexpr std::uint32_t config_bank1_start = 0x20000;
inline constexpr std::uint32_t fw_bank1_start = 0x28000;
inline constexpr std::uint32_t esm_start = 0x40000;

// Bits of the bank status byte ('T'); a set bit means the bank is valid.
inline constexpr std::uint8_t config_bank0_flag = 0x01;
inline constexpr std::uint8_t config_bank1_flag = 0x02;
inline constexpr std::uint8_t fw_bank0_flag = 0x04;
inline constexpr std::uint8_t fw_bank1_flag = 0x08;
inline constexpr std::uint8_t config_flags = config_bank0_flag | config_bank1_flag;
inline constexpr std::uint8_t fw_flags = fw_bank0_flag | fw_bank1_flag;

// The last 16 bytes of a bank. Writing 0x00 over its first and last byte invalidates the
// bank without erasing it.
inline constexpr std::uint32_t trailer_size = 16;

// A bank is erased sector by sector for its first 8 sectors (a whole config bank), the rest
// of a firmware bank as one 64 KiB block; the esm region is erased as 4 blocks.
inline constexpr std::uint32_t bank_sectors = 8;

// A region the update writes: a pair of banks, or the esm region, whose one copy is both
// "banks". The image's copy of a region is at `start[0]`.
struct flash_region {
    const char* name;
    std::uint32_t start[2];
    std::uint32_t size;
    std::uint8_t flag[2];   // the banks' bits in the status byte; 0 for the esm region
    std::uint32_t sectors;  // erased sector by sector from the start, the rest by blocks
};

inline constexpr flash_region config_region{"config",
                                            {config_bank0_start, config_bank1_start},
                                            config_size,
                                            {config_bank0_flag, config_bank1_flag},
                                            bank_sectors};
inline constexpr flash_region fw_region{"firmware",
                                        {fw_bank0_start, fw_bank1_start},
                                        fw_size,
                                        {fw_bank0_flag, fw_bank1_flag},
                                        bank_sectors};
inline constexpr flash_region esm_region{"esm", {esm_start, esm_start}, esm_size, {0, 0}, 0};

// Where the trailer of a bank starting at `start` in `region` begins.
constexpr std::uint32_t trailer_of(const flash_region& region, std::uint32_t start) {
    return start + region.size - trailer_size;
}

}  // namespace ostrel::vxr
