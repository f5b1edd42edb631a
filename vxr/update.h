#pragma once

#include <cstdint>

// What became of a bridge update, for the user's next step.
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

}  // namespace ostrel
