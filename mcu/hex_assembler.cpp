// Laying the data records of a HEX file out as one image.
#include "mcu/hex_assembler.h"

#include <algorithm>
#include <cstring>

namespace ostrel {

hex_assembler::hex_assembler(std::size_t text_size) {
    // A record that places data takes a line of 13 characters at least (":01AAAA00DDCC") and
    // a line end but for the last; one byte of data at least.
    pieces_.reserve(std::min(text_size / 14 + 1, hex_image_limit));
}

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
    const bool ascending = ascending_count_ == pieces_.size() && (first || address >= high_);
    if (first) {
        // The span limit bounds the ascending part: room for all of it at once, so that it
        // is never moved. Only what is written takes memory.
        ascending_.reserve(hex_image_limit);
    }
    low_ = low;
    high_ = high;
    total_ += data.size();
    pieces_.push_back(
        {address, static_cast<std::uint32_t>(data.size()), static_cast<std::uint32_t>(line)});
    if (ascending) {
        ++ascending_count_;
        ascending_.resize(address - pieces_.front().address);  // a gap reads 0x00
        ascending_.insert(ascending_.end(), data.begin(), data.end());
    } else {
        pool_.insert(pool_.end(), data.begin(), data.end());
    }
    return hex_defect::none;
}

hex_defect hex_assembler::finish(hex_image& image, std::size_t& line) {
    if (total_ == 0) {
        image.base_address = first_address_;
        image.data.clear();
        return hex_defect::none;
    }
    if (ascending_count_ == pieces_.size()) {
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
        piece record;
        const std::uint8_t* data;
    };
    std::vector<placed> records;
    records.reserve(pieces_.size());
    std::size_t pooled = 0;
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
        const piece& p = pieces_[i];
        if (i < ascending_count_) {
            records.push_back({p, ascending_.data() + (p.address - pieces_.front().address)});
        } else {
            records.push_back({p, pool_.data() + pooled});
            pooled += p.length;
        }
    }
    std::stable_sort(records.begin(), records.end(), [](const placed& a, const placed& b) {
        return a.record.address < b.record.address;
    });
    byte_vector data(static_cast<std::size_t>(high_ - low_), 0x00);
    std::uint64_t covered = low_;  // every address from the first record's up to here is set
    for (const placed& r : records) {
        const std::size_t at = r.record.address - static_cast<std::uint32_t>(low_);
        const std::uint64_t end = std::uint64_t{r.record.address} + r.record.length;
        if (r.record.address < covered) {
            const auto shared = static_cast<std::size_t>(std::min(end, covered) - r.record.address);
            if (std::memcmp(data.data() + at, r.data, shared) != 0) {
                line = r.record.line;
                return hex_defect::overlap;
            }
        }
        std::memcpy(data.data() + at, r.data, r.record.length);
        covered = std::max(covered, end);
    }
    image.base_address = static_cast<std::uint32_t>(low_);
    image.data = std::move(data);
    return hex_defect::none;
}

}  // namespace ostrel
