// Laying the data records of a HEX file out as one image.
#include "mcu/hex_assembler.h"

#include <algorithm>
#include <cstring>

namespace ostrel {

hex_defect hex_assembler::add(std::uint32_t address, std::span<const std::uint8_t> data,
                              std::size_t line) {
    if (!seen_record_) {
        seen_record_ = true;
        first_address_ = address;
    }
    if (data.empty()) {
        return hex_defect::none;  // places nothing; only the first one's address counts
    }
    const std::uint64_t end = std::uint64_t{address} + data.size();
    if (end > std::uint64_t{1} << 32) {
        return hex_defect::past_address_space;
    }
    const bool first = pool_.empty();
    const std::uint64_t low = first ? address : std::min<std::uint64_t>(low_, address);
    const std::uint64_t high = first ? end : std::max(high_, end);
    if (high - low > hex_image_limit || pool_.size() + data.size() > hex_image_limit) {
        return hex_defect::image_too_large;
    }
    if (first) {
        // The limit bounds the data: room for all of it at once, so that it is never moved.
        // Only what is written takes memory.
        pool_.reserve(hex_image_limit);
    }
    ascending_ = ascending_ && (first || address >= high_);
    low_ = low;
    high_ = high;
    pieces_.push_back({address, static_cast<std::uint32_t>(pool_.size()),
                       static_cast<std::uint32_t>(data.size()), static_cast<std::uint32_t>(line)});
    pool_.insert(pool_.end(), data.begin(), data.end());
    return hex_defect::none;
}

hex_defect hex_assembler::finish(hex_image& image, std::size_t& line) {
    if (pool_.empty()) {
        image.base_address = first_address_;
        image.data.clear();
        return hex_defect::none;
    }
    if (!ascending_) {
        std::stable_sort(pieces_.begin(), pieces_.end(),
                         [](const piece& a, const piece& b) { return a.address < b.address; });
    }
    byte_vector data(static_cast<std::size_t>(high_ - low_), 0x00);
    std::uint64_t covered = low_;  // every address from the first record's up to here is set
    for (const piece& r : pieces_) {
        const std::size_t at = r.address - static_cast<std::uint32_t>(low_);
        const std::uint64_t end = std::uint64_t{r.address} + r.length;
        const std::uint8_t* bytes = pool_.data() + r.offset;
        if (r.address < covered) {
            const auto shared = static_cast<std::size_t>(std::min(end, covered) - r.address);
            if (std::memcmp(data.data() + at, bytes, shared) != 0) {
                line = r.line;
                return hex_defect::overlap;
            }
        }
        std::memcpy(data.data() + at, bytes, r.length);
        covered = std::max(covered, end);
    }
    image.base_address = static_cast<std::uint32_t>(low_);
    image.data = std::move(data);
    return hex_defect::none;
}

}  // namespace ostrel
