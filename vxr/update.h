#pragma once

#include <cstdint>
#include <span>

#include "base/progress.h"
#include "device/device_link.h"

// The bridge update: each region that differs from the image is written into the bank the
// device does not run from and checked; the bank gets its trailer only once the rest of it
// is confirmed, and the old bank is invalidated only once the whole new bank is.
namespace ostrel::vxr {

// Which copy a bank pair holds valid, as far as the run knows.
enum class held_copy : std::uint8_t {
    old_copy,  // the copy it held before the run, alone
    new_copy,  // the image's copy, alone
    both,      // both may be valid: the bridge picks one; the next run settles the pair
};

// What an update did, for the words after a failure.
struct update_report {
    bool written = false;  // anything erased or written
    held_copy config = held_copy::old_copy;
    held_copy fw = held_copy::old_copy;
    bool esm_incomplete = false;  // the esm region, which has one copy, erased and not confirmed
};

// Brings the bridge's flash in line with `image` (a whole Fullrom file): asks for the plan
// (check_update), refuses an image that cannot be one, and asks for the bank status.
// A pair whose banks both claim to be valid is settled first: the bank that holds the
// image's copy stays and the other is invalidated; with neither, bank 1 is invalidated and
// written. Then the config pair, the firmware pair and the esm region that differ are
// written, in that order, calling `progress` with the fraction of the planned bytes
// written. No stop is acted on from a bank's trailer to the old bank's invalidation.
// `report` tells what the run did. `write_all`: every region is written whatever the
// device's sums say (they are byte sums, blind to reordered bytes); no sums are asked first.
bool flash_update(device_link& link, std::span<const std::uint8_t> image,
                  const progress_callback& progress, update_report& report, bool write_all = false);

}  // namespace ostrel::vxr
