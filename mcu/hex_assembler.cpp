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
    const bool first = total_ == 0;
    const std::uint64_t low = first ? address : std::min<std::uint64_t>(low_, address);
    const std::uint64_t high = first ? end : std::max(high_, end);
    if (high - low > hex_image_limit || total_ + data.size() > hex_image_limit) {
        return hex_defect::image_too_large;
    }
    // Ascending so far, and this one lies at or after the end of all before it.
    const bool ascending = segments_.empty() && (first || address >= high_);
    low_ = low;
    high_ = high;
    total_ += data.size();
    if (ascending) {
        add_ascending(address, data, line);
    } else {
        segments_.push_back({address, static_cast<std::uint32_t>(pool_.size()),
                             static_cast<std::uint32_t>(data.size()),
                             static_cast<std::uint32_t>(line)});
        pool_.insert(pool_.end(), data.begin(), data.end());
    }
    return hex_defect::none;
}

void hex_assembler::add_ascending(std::uint32_t address, std::span<const std::uint8_t> data,
                                  std::size_t line) {
    if (runs_.empty()) {
        // The span limit bounds this part: room for all of it at once, so that it is never
        // moved. Only what is written takes memory.
        ascending_.reserve(hex_image_limit);
    }
    const auto length = static_cast<std::uint32_t>(data.size());
    const auto number = static_cast<std::uint32_t>(line);
    const std::size_t at = address - static_cast<std::uint32_t>(low_);
    ascending_.resize(at);  // a gap reads 0x00
    ascending_.insert(ascending_.end(), data.begin(), data.end());
    if (!runs_.empty()) {
        run& last = runs_.back();
        if (last.length == length && last.line + last.count == number &&
            std::uint64_t{last.address} + std::uint64_t{last.length} * last.count == address) {
            ++last.count;
            return;
        }
    }
    runs_.push_back({address, length, 1, number});
}

hex_defect hex_assembler::finish(hex_image& image, std::size_t& line) {
    if (total_ == 0) {
        image.base_address = first_address_;
        image.data.clear();
        return hex_defect::none;
    }
    if (segments_.empty()) {
        // Ascending throughout: laid out already, and nothing can overlap.
        image.base_address = static_cast<std::uint32_t>(low_);
        image.data = std::move(ascending_);
        return hex_defect::none;
    }
    return finish_sorted(image, line);
}

// Every record in file order, sorted by address (file order among equals), laid out one
// after the other; where one overlaps what is laid out already, the bytes must agree.
hex_defect hex_assembler::finish_sorted(hex_image& image, std::size_t& line) const {
    struct placed {
        std::uint32_t address;
        std::uint32_t length;
        std::uint32_t line;
        const std::uint8_t* data;
    };
    std::vector<placed> records;
    const auto ascending_low = runs_.empty() ? 0 : runs_.front().address;
    for (const run& r : runs_) {
        for (std::uint32_t i = 0; i < r.count; ++i) {
            const std::uint32_t address = r.address + i * r.length;
            records.push_back(
                {address, r.length, r.line + i, ascending_.data() + (address - ascending_low)});
        }
    }
    for (const segment& s : segments_) {
        records.push_back({s.address, s.length, s.line, pool_.data() + s.offset});
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const placed& a, const placed& b) { return a.address < b.address; });
    byte_vector data(static_cast<std::size_t>(high_ - low_), 0x00);
    std::uint64_t covered = low_;  // every address from the first record's up to here is set
    for (const placed& r : records) {
        const std::size_t at = r.address - static_cast<std::uint32_t>(low_);
        const std::uint64_t end = std::uint64_t{r.address} + r.length;
        if (r.address < covered) {
            const auto shared = static_cast<std::size_t>(std::min(end, covered) - r.address);
            if (std::memcmp(data.data() + at, r.data, shared) != 0) {
                line = r.line;
                return hex_defect::overlap;
            }
        }
        std::memcpy(data.data() + at, r.data, r.length);
        covered = std::max(covered, end);
    }
    image.base_address = static_cast<std::uint32_t>(low_);
    image.data = std::move(data);
    return hex_defect::none;
}

}  // namespace ostrel
