#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/device_state.h"

// What the bridge's flash must look like after an update to `image` has been completed: of
// each pair of banks exactly one is valid, the one the bridge starts from (bank 1 when it is
// valid) holds the image's copy, and the esm region holds the image's bytes.
namespace interrupt_test {

struct bank_area {
    std::uint32_t start;
    std::uint32_t size;
};
inline constexpr bank_area config_banks[2] = {{0x00000, 0x8000}, {0x20000, 0x8000}};
inline constexpr bank_area fw_banks[2] = {{0x08000, 0x18000}, {0x28000, 0x18000}};
inline constexpr bank_area esm_area = {0x40000, 0x40000};

inline bool bank_valid(const sim::device_state& state, bank_area bank) {
    const std::uint8_t* trailer = state.bridge_flash + bank.start + bank.size - 16;
    const auto usable = [](std::uint8_t b) { return b != 0x00 && b != 0xFF; };
    return usable(trailer[0]) && usable(trailer[15]);
}

inline bool area_holds(const sim::device_state& state, bank_area where,
                       const std::vector<std::uint8_t>& image, std::uint32_t source) {
    return std::equal(state.bridge_flash + where.start,
                      state.bridge_flash + where.start + where.size, image.begin() + source);
}

inline bool bridge_runs(const sim::device_state& state, const std::vector<std::uint8_t>& image) {
    const auto pair_good = [&](const bank_area(&pair)[2]) {
        const bool one = bank_valid(state, pair[0]) != bank_valid(state, pair[1]);
        const bank_area& used = pair[bank_valid(state, pair[1]) ? 1 : 0];
        return one && area_holds(state, used, image, pair[0].start);
    };
    return pair_good(config_banks) && pair_good(fw_banks) &&
           area_holds(state, esm_area, image, esm_area.start);
}

// Whether every valid bank holds a whole copy, the old image's or the new one's: no bank
// that was erased or written only in part claims to be valid.
inline bool no_partial_copy_valid(const sim::device_state& state,
                                  const std::vector<std::uint8_t>& old_image,
                                  const std::vector<std::uint8_t>& new_image) {
    const auto whole = [&](const bank_area(&pair)[2]) {
        return std::all_of(pair, pair + 2, [&](const bank_area& bank) {
            return !bank_valid(state, bank) || area_holds(state, bank, old_image, pair[0].start) ||
                   area_holds(state, bank, new_image, pair[0].start);
        });
    };
    return whole(config_banks) && whole(fw_banks);
}

// Whether each pair has a valid bank the bridge can start from.
inline bool bridge_bootable(const sim::device_state& state) {
    return (bank_valid(state, config_banks[0]) || bank_valid(state, config_banks[1])) &&
           (bank_valid(state, fw_banks[0]) || bank_valid(state, fw_banks[1]));
}

// A Fullrom image with the trailers of the banks that `valid_banks` (bits 0 to 3, as the
// bank status) does not name zeroed at both ends, as the program invalidates a bank.
inline std::vector<std::uint8_t> with_valid_banks(std::vector<std::uint8_t> image,
                                                  std::uint8_t valid_banks) {
    const bank_area banks[4] = {config_banks[0], config_banks[1], fw_banks[0], fw_banks[1]};
    for (std::size_t i = 0; i < 4; ++i) {
        if ((valid_banks & (1u << i)) == 0) {
            image[banks[i].start + banks[i].size - 16] = 0x00;
            image[banks[i].start + banks[i].size - 1] = 0x00;
        }
    }
    return image;
}

}  // namespace interrupt_test
