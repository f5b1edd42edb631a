#include "tests/support/bridge_oracle.h"

#include <algorithm>

namespace ostrel::testing {
namespace {

bool area_holds(const sim::device_state& state, sim::bridge_area where, image_bytes image,
                std::uint32_t source) {
    return image.size() >= source + where.size &&
           std::equal(state.bridge_flash + where.start,
                      state.bridge_flash + where.start + where.size, image.begin() + source);
}

constexpr std::size_t config_pair = 0;  // banks 0 and 1
constexpr std::size_t fw_pair = 2;      // banks 2 and 3

// Whether bank `index` (0 to 3, as its bit in the bank status) holds the image's copy.
bool bank_holds(const sim::device_state& state, std::size_t index, image_bytes image,
                copy_match match) {
    const sim::bridge_area bank = sim::bridge_banks[index];
    const std::uint32_t written = sim::bridge_banks[index & ~std::size_t{1}].start;
    return area_holds(state, bank, image, written) ||
           (match == copy_match::written_or_own && area_holds(state, bank, image, bank.start));
}

std::size_t bank_in_use(const sim::device_state& state, std::size_t pair) {
    return sim::bank_valid(state, pair + 1) ? pair + 1 : pair;
}

// Whether the bridge starts from the image: in each pair the bank it starts from (bank 1
// when valid, else bank 0) is valid and holds the image; the esm region holds the image's.
bool bridge_runs(const sim::device_state& state, image_bytes image, copy_match match) {
    const auto pair_runs = [&](std::size_t pair) {
        const std::size_t bank = bank_in_use(state, pair);
        return sim::bank_valid(state, bank) && bank_holds(state, bank, image, match);
    };
    return pair_runs(config_pair) && pair_runs(fw_pair) &&
           area_holds(state, sim::bridge_esm, image, sim::bridge_esm.start);
}

// Whether each pair has exactly one valid bank, as an update leaves it.
bool one_valid_bank_per_pair(const sim::device_state& state) {
    return sim::bank_valid(state, 0) != sim::bank_valid(state, 1) &&
           sim::bank_valid(state, 2) != sim::bank_valid(state, 3);
}

// Whether every valid bank holds a whole copy: the one it held in `before` or the image's.
bool no_partial_copy_valid(const sim::device_state& state, image_bytes before, image_bytes image,
                           copy_match match) {
    for (std::size_t i = 0; i < 4; ++i) {
        const sim::bridge_area bank = sim::bridge_banks[i];
        if (sim::bank_valid(state, i) && !area_holds(state, bank, before, bank.start) &&
            !bank_holds(state, i, image, match)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool interruption_safe(const sim::device_state& state, std::uint8_t banks_before,
                       image_bytes before, image_bytes image, copy_match match) {
    const auto keeps_a_bank = [&](std::size_t pair) {
        return (banks_before >> pair & 3) == 0 || sim::bank_valid(state, pair) ||
               sim::bank_valid(state, pair + 1);
    };
    return keeps_a_bank(config_pair) && keeps_a_bank(fw_pair) &&
           no_partial_copy_valid(state, before, image, match);
}

bool update_finished(const sim::device_state& state, image_bytes image, copy_match match) {
    return bridge_runs(state, image, match) && one_valid_bank_per_pair(state);
}

void invalidate_banks(std::span<std::uint8_t> flash, std::uint8_t valid_banks) {
    for (std::size_t i = 0; i < 4; ++i) {
        if ((valid_banks & (1u << i)) == 0) {
            const sim::bridge_area bank = sim::bridge_banks[i];
            flash[bank.start + bank.size - sim::bridge_trailer_size] = 0x00;
            flash[bank.start + bank.size - 1] = 0x00;
        }
    }
}

}  // namespace ostrel::testing
