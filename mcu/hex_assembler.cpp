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
    const std::uint64_t low = segments_.empty() ? address : std::min<std::uint64_t>(low_, address);
    const std::uint64_t high = segments_.empty() ? end : std::max(high_, end);
    if (high - low > hex_image_limit || pool_.size() + data.size() > hex_image_limit) {
        return hex_defect::image_too_large;
    }
    low_ = low;
    high_ = high;
    segments_.push_back({address, static_cast<std::uint32_t>(pool_.size()),
                         static_cast<std::uint32_t>(data.size()),
                         static_cast<std::uint32_t>(line)});
    pool_.insert(pool_.end(), data.begin(), data.end());
    return hex_defect::none;
}

hex_defect hex_assembler::finish(hex_image& image, std::size_t& line) const {
    if (segments_.empty()) {
        image.base_address = first_address_;
        image.data.clear();
        return hex_defect::none;
    }
    const auto by_address = [](const segment& a, const segment& b) {
        return a.address < b.address;
    };
    std::vector<segment> sorted;
    const std::vector<segment>* order = &segments_;
    if (!std::is_sorted(segments_.begin(), segments_.end(), by_address)) {
        sorted = segments_;
        std::stable_sort(sorted.begin(), sorted.end(), by_address);  // file order among equals
        order = &sorted;
    }
    byte_vector data(static_cast<std::size_t>(high_ - low_), 0x00);
    std::uint64_t covered = low_;  // every address from the first segment's up to here is set
    for (const segment& s : *order) {
        const std::size_t at = s.address - static_cast<std::uint32_t>(low_);
        const std::uint64_t end = std::uint64_t{s.address} + s.length;
        if (s.address < covered) {
            const auto shared = static_cast<std::size_t>(std::min(end, covered) - s.address);
            if (std::memcmp(data.data() + at, pool_.data() + s.offset, shared) != 0) {
                line = s.line;
                return hex_defect::overlap;
            }
        }
        std::memcpy(data.data() + at, pool_.data() + s.offset, s.length);
        covered = std::max(covered, end);
    }
    image.base_address = static_cast<std::uint32_t>(low_);
    image.data = std::move(data);
    return hex_defect::none;
}

}  // namespace ostrel
