#pragma once

#include <cstdint>
#include <span>

#include "device/device_link.h"
#include "device/progress.h"

// The bridge update: each region that differs from the image is written into the bank the
// device does not run from, checked, and only then is the other bank invalidated.
namespace ostrel {

// The step of the update under way; an update that ended early ended in it.
enum class vxr_stage : std::uint8_t {
    checks,    // reading the image and the bank status: nothing erased yet
    recovery,  // erasing both bank pairs after a contradictory bank status
    config,    // writing the new config bank
    fw,        // writing the new firmware bank
    esm,       // rewriting the esm region, which has one copy only
    done,
};

struct vxr_update_report {
    vxr_stage stage = vxr_stage::checks;
    // Both bank pairs were erased to recover from a contradictory status, so no old bank
    // is left to start from until the new ones are written.
    bool recovered = false;
};

// Brings the bridge's flash in line with `image` (a whole Fullrom file): asks for the plan
// (check_vxr_update), refuses an image that cannot be one, asks for the bank status, and
// writes the config pair, the firmware pair and the esm region that differ, in that order,
// calling `progress` with the fraction of the planned bytes written. When both banks of a
// pair claim to be valid, both pairs are erased and written afresh into bank 0. `report`
// tells how far it got.
bool vxr_flash_update(device_link& link, std::span<const std::uint8_t> image,
                      const progress_callback& progress, vxr_update_report& report);

}  // namespace ostrel
