#pragma once

// What the bridge's flash tells about an update, judged on the virtual device's own bank
// table (sim/bridge_flash.h). Every test of the bridge update asks these questions, and
// only these: the unit tests, the sweeps and the fuzz targets.
#include <cstddef>
#include <cstdint>
#include <span>

#include "sim/bridge_flash.h"
#include "sim/device_state.h"

namespace ostrel::testing {

using image_bytes = std::span<const std::uint8_t>;

// Which of an image's copies counts as a bank "holding" the image.
enum class copy_match {
    // The copy the update writes: the image's bank-0 copy of the pair, whichever bank.
    written,
    // That, or the image's own copy at that bank's place, which the update's decision takes
    // for up to date and leaves as it is.
    written_or_own,
};

// What any sequence of interrupted or failed updates must leave, judged against the flash
// before the first of them (`before`, whose valid banks bits 0 to 3 of `banks_before` name):
// each pair that had a valid bank has one, and every valid bank holds a whole copy, the one
// it held then or the image's.
bool interruption_safe(const sim::device_state& state, std::uint8_t banks_before,
                       image_bytes before, image_bytes image, copy_match match);

// What a finished update leaves: one valid bank per pair, holding the image, and the esm
// region the image's.
bool update_finished(const sim::device_state& state, image_bytes image, copy_match match);

// Zeroes both ends of the trailer of each bank that bits 0 to 3 of `valid_banks` do not
// name, as the program invalidates a bank. `flash` is a whole bridge flash or image.
void invalidate_banks(std::span<std::uint8_t> flash, std::uint8_t valid_banks);

}  // namespace ostrel::testing
