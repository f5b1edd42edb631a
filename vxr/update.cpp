#include "vxr/update.h"

#include "vxr/flash_map.h"
#include "vxr/flash_operations.h"
#include "vxr/fullrom.h"
#include "vxr/update_decision.h"

namespace ostrel {
namespace {

using vxr::flash_region;

// What one stage writes: a region, the bank it writes and the one it then invalidates
// (none for the esm region), and where its bytes fall in the progress of the update.
struct stage {
    const flash_region& region;
    std::size_t target;   // 0 or 1
    std::uint32_t done;   // bytes of the update written before this stage
    std::uint32_t total;  // bytes of the whole update
};

bool banked(const flash_region& region) {
    return region.flag[0] != 0;
}

// Erases the target bank: its first sectors one by one, the rest block by block.
bool erase_target(device_link& link, const stage& s) {
    const std::uint32_t start = s.region.start[s.target];
    for (std::uint32_t i = 0; i < s.region.sectors; ++i) {
        if (!vxr::erase_flash_sector(link, start + i * vxr::sector_size)) {
            return false;
        }
    }
    for (std::uint32_t at = s.region.sectors * vxr::sector_size; at < s.region.size;
         at += vxr::block_size) {
        if (!vxr::erase_flash_block(link, start + at)) {
            return false;
        }
    }
    return true;
}

// Writes the image's copy into the target bank and asks the device for the sum of what it
// now holds there: the write must have taken, not only been acknowledged, before anything
// relies on it.
bool write_checked(device_link& link, std::span<const std::uint8_t> image, const stage& s,
                   const progress_callback& progress) {
    const auto copy = image.subspan(s.region.start[0], s.region.size);
    const auto scaled = [&s, &progress](double fraction) {
        if (progress) {
            progress((s.done + fraction * s.region.size) / s.total);
        }
    };
    const std::uint32_t target = s.region.start[s.target];
    if (!vxr::write_flash_bytes(link, target, copy, scaled)) {
        return false;
    }
    const auto device_sum = vxr::query_flash_checksum(link, target, s.region.size);
    return device_sum && *device_sum == sum_bytes(copy.data(), copy.data() + copy.size());
}

// One stage: erase, write and confirm the target, then invalidate the other bank. A bank
// written whole but not confirmed carries the image's valid trailer beside the old bank,
// which is still valid: it is invalidated again, so that the bridge cannot start from a
// copy that did not take.
bool run_stage(device_link& link, std::span<const std::uint8_t> image, const stage& s,
               const progress_callback& progress) {
    if (!erase_target(link, s)) {
        return false;
    }
    if (!write_checked(link, image, s, progress)) {
        if (banked(s.region)) {
            vxr::invalidate_bank(link, s.region.flag[s.target]);
        }
        return false;
    }
    return !banked(s.region) || vxr::invalidate_bank(link, s.region.flag[1 - s.target]);
}

bool contradictory(std::uint8_t status) {
    return (status & vxr::config_flags) == vxr::config_flags ||
           (status & vxr::fw_flags) == vxr::fw_flags;
}

// Both banks of a pair claim to be valid and there is no telling which is good: both pairs
// are erased, to be written afresh into bank 0. A firmware bank spans two blocks, its
// trailer in the second: that block goes first, so that no interruption leaves a bank
// valid whose start is erased. The stages then take every bank for erased and write bank 0
// sector by sector, which would tear a bank still valid: an erase that fails ends the
// update.
bool erase_both_pairs(device_link& link) {
    for (const std::uint32_t pair_start : {vxr::config_bank0_start, vxr::config_bank1_start}) {
        if (!vxr::erase_flash_block(link, pair_start + vxr::block_size) ||
            !vxr::erase_flash_block(link, pair_start)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool vxr_flash_update(device_link& link, std::span<const std::uint8_t> image,
                      const progress_callback& progress, vxr_update_report& report) {
    report = {};
    if (!link.app_open()) {
        return false;
    }
    vxr_update_plan plan = check_vxr_update(link, image);
    if (!vxr::fullrom_length_ok(image.size()) || vxr::fullrom_refusal(image)) {
        return false;  // refused before anything is erased; nothing read past its end
    }
    // A status that did not come is not "no bank valid": taking it for 0 would erase the
    // bank the bridge runs from.
    const auto status_read = vxr::query_bank_status(link);
    if (!status_read) {
        return false;
    }
    std::uint8_t status = *status_read;
    if (contradictory(status)) {
        report.stage = vxr_stage::recovery;
        report.recovered = true;
        if (!erase_both_pairs(link)) {
            return false;
        }
        plan.config = true;
        plan.fw = true;
        status = 0;
    }
    const struct {
        bool wanted;
        const flash_region& region;
        vxr_stage name;
    } stages[] = {{plan.config, vxr::config_region, vxr_stage::config},
                  {plan.fw, vxr::fw_region, vxr_stage::fw},
                  {plan.esm, vxr::esm_region, vxr_stage::esm}};
    std::uint32_t total = 0;
    for (const auto& s : stages) {
        total += s.wanted ? s.region.size : 0;
    }
    std::uint32_t done = 0;
    for (const auto& s : stages) {
        if (!s.wanted) {
            continue;
        }
        report.stage = s.name;
        // The bank the device does not run from: bank 1 while bank 0 is valid.
        const std::size_t target = (status & s.region.flag[0]) != 0 ? 1 : 0;
        if (!run_stage(link, image, {s.region, target, done, total}, progress)) {
            return false;
        }
        done += s.region.size;
    }
    report.stage = vxr_stage::done;
    return true;
}

}  // namespace ostrel
