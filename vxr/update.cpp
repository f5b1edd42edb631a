// The bridge update, bank by bank (vxr/update.h).
#include "vxr/update.h"

#include <cmath>

#include "base/stop_request.h"
#include "vxr/flash_map.h"
#include "vxr/flash_operations.h"
#include "vxr/fullrom.h"
#include "vxr/update_decision.h"

namespace ostrel::vxr {
namespace {

// One stage of the update: a region, whether it is to be written, which copy the bridge may
// hold valid (none for the esm region), and once it is written: the bank it writes and the
// one it then invalidates, and where its bytes fall in the progress of the update.
struct stage {
    const flash_region& region;
    bool wanted;
    held_copy* copy;
    std::size_t target = 0;   // 0 or 1
    std::uint32_t done = 0;   // bytes of the update written before this stage
    std::uint32_t total = 0;  // bytes of the whole update
};

// Erases the target bank: its first sectors one by one, the rest block by block.
bool erase_target(device_link& link, const stage& s) {
    const std::uint32_t start = s.region.start[s.target];
    for (std::uint32_t i = 0; i < s.region.sectors; ++i) {
        if (!erase_flash_sector(link, start + i * sector_size)) {
            return false;
        }
    }
    for (std::uint32_t at = s.region.sectors * sector_size; at < s.region.size; at += block_size) {
        if (!erase_flash_block(link, start + at)) {
            return false;
        }
    }
    return true;
}

// Whether the device's bytes from `start` on add up as `copy` does: a write must have
// taken, not only been acknowledged, before anything relies on it. A sum that does not
// come counts as a difference.
bool confirmed(device_link& link, std::uint32_t start, std::span<const std::uint8_t> copy) {
    const auto device_sum =
        query_flash_checksum(link, start, static_cast<std::uint32_t>(copy.size()));
    return device_sum && *device_sum == sum_bytes(copy.data(), copy.data() + copy.size());
}

// Writes `bytes` from the stage's target start + `offset` on, reporting the bytes of the
// update written so far.
bool write_part(device_link& link, const stage& s, std::uint32_t offset,
                std::span<const std::uint8_t> bytes, const progress_callback& progress) {
    const auto scaled = [&](double fraction) {
        if (progress) {
            // Whole bytes, so that the value is exactly bytes written / total bytes.
            const double bytes_done = std::round(fraction * static_cast<double>(bytes.size()));
            progress((s.done + offset + bytes_done) / s.total);
        }
    };
    return write_flash_bytes(link, s.region.start[s.target] + offset, bytes, scaled);
}

// The esm region, which has one copy: erased, written and checked in place.
bool write_esm(device_link& link, std::span<const std::uint8_t> image, const stage& s,
               const progress_callback& progress, update_report& report) {
    const auto copy = image.subspan(s.region.start[0], s.region.size);
    report.esm_incomplete = true;
    if (!erase_target(link, s) || !write_part(link, s, 0, copy, progress) ||
        !confirmed(link, s.region.start[s.target], copy)) {
        return false;
    }
    report.esm_incomplete = false;
    return true;
}

// A bank of a pair: erased, written but for its trailer, and checked; only then its
// trailer, the check of the whole bank, and the old bank's invalidation, which no stop
// splits. A body that did not take leaves the trailer erased and the bank invalid; a whole
// bank that cannot be confirmed is invalidated again, so that it never stands valid beside
// the old one. `pair` follows what the bridge may hold valid.
bool write_bank(device_link& link, std::span<const std::uint8_t> image, const stage& s,
                const progress_callback& progress, held_copy& pair) {
    const flash_region& region = s.region;
    const std::uint32_t target = region.start[s.target];
    const auto copy = image.subspan(region.start[0], region.size);
    const auto body = copy.first(region.size - trailer_size);
    if (!erase_target(link, s) || !write_part(link, s, 0, body, progress) ||
        !confirmed(link, target, body) || stop_requested() != 0) {
        return false;
    }
    const stop_hold hold;
    pair = held_copy::both;
    const auto trailer = static_cast<std::uint32_t>(body.size());
    if (!write_part(link, s, trailer, copy.subspan(trailer), progress) ||
        !confirmed(link, target, copy)) {
        if (invalidate_bank(link, region, s.target)) {
            pair = held_copy::old_copy;
        }
        return false;
    }
    if (!invalidate_bank(link, region, 1 - s.target)) {
        return false;
    }
    pair = held_copy::new_copy;
    return true;
}

// Both banks of `pair` claim to be valid, and either may be the one the bridge runs:
// nothing is erased. The bank that holds the image's copy stays (bank 0 when both do) and
// the other is invalidated, and the pair needs no writing; with neither, bank 1 is
// invalidated and the pair is to be written into it, bank 0 staying valid until then.
// A sum that does not come ends the update: a late reply could pass for the next one's.
// Nothing when the update is to end; else whether the pair is still to be written.
std::optional<bool> settle_pair(device_link& link, std::span<const std::uint8_t> image,
                                const flash_region& pair, std::uint8_t& status,
                                update_report& report) {
    held_copy& copy = &pair == &config_region ? report.config : report.fw;
    copy = held_copy::both;
    const auto wanted = image.subspan(pair.start[0], pair.size);
    const std::uint32_t image_sum = sum_bytes(wanted.data(), wanted.data() + wanted.size());
    const auto bank0 = query_flash_checksum(link, pair.start[0], pair.size);
    const auto bank1 = bank0 ? query_flash_checksum(link, pair.start[1], pair.size) : std::nullopt;
    if (!bank1) {
        return std::nullopt;
    }
    const bool holds = *bank0 == image_sum || *bank1 == image_sum;
    const std::size_t dropped = *bank0 != image_sum && *bank1 == image_sum ? 0 : 1;
    report.written = true;
    if (!invalidate_bank(link, pair, dropped)) {
        return std::nullopt;
    }
    status &= static_cast<std::uint8_t>(~pair.flag[dropped]);
    copy = holds ? held_copy::new_copy : held_copy::old_copy;
    return !holds;
}

}  // namespace

bool flash_update(device_link& link, std::span<const std::uint8_t> image,
                  const progress_callback& progress, update_report& report, bool write_all) {
    report = {};
    if (!link.app_open()) {
        return false;
    }
    const update_plan plan = write_all ? update_plan{true, true, true} : check_update(link, image);
    if (!fullrom_length_ok(image.size()) || fullrom_refusal(image)) {
        return false;  // refused before anything is erased; nothing read past its end
    }
    // A status that did not come is not "no bank valid": taking it for 0 would erase the
    // bank the bridge runs from.
    const auto status_read = query_bank_status(link);
    if (!status_read) {
        return false;
    }
    std::uint8_t status = *status_read;
    stage stages[] = {{config_region, plan.config, &report.config},
                      {fw_region, plan.fw, &report.fw},
                      {esm_region, plan.esm, nullptr}};
    for (auto& s : stages) {
        const std::uint8_t both = s.region.flag[0] | s.region.flag[1];
        if (s.copy != nullptr && (status & both) == both) {
            const auto still_wanted = settle_pair(link, image, s.region, status, report);
            if (!still_wanted) {
                return false;
            }
            s.wanted = *still_wanted;
        }
    }
    std::uint32_t total = 0;
    for (const auto& s : stages) {
        total += s.wanted ? s.region.size : 0;
    }
    std::uint32_t done = 0;
    for (auto& s : stages) {
        if (!s.wanted) {
            continue;
        }
        report.written = true;
        // The bank the device does not run from: bank 1 while bank 0 is valid.
        s.target = (status & s.region.flag[0]) != 0 ? 1 : 0;
        s.done = done;
        s.total = total;
        if (s.copy != nullptr ? !write_bank(link, image, s, progress, *s.copy)
                              : !write_esm(link, image, s, progress, report)) {
            return false;
        }
        done += s.region.size;
    }
    return true;
}

}  // namespace ostrel::vxr
