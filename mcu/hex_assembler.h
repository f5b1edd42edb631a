#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mcu/hex_reader.h"

// Collects the data records of a HEX file in any order and lays them out as one image.
namespace ostrel {

class hex_assembler {
  public:
    // A data record of `line` for `address`. Fails when it runs past the address space or
    // makes the image, or the data in all, larger than hex_image_limit.
    hex_defect add(std::uint32_t address, std::span<const std::uint8_t> data, std::size_t line);

    // Lays the records out from the lowest address to the highest, gaps 0x00. Fails, naming
    // the line in `line`, when two records give different bytes for one address.
    hex_defect finish(hex_image& image, std::size_t& line) const;

  private:
    struct segment {
        std::uint32_t address;
        std::uint32_t offset;  // into pool_
        std::uint32_t length;
        std::uint32_t line;
    };

    std::vector<std::uint8_t> pool_;  // every record's data, in file order
    std::vector<segment> segments_;
    bool seen_record_ = false;
    std::uint32_t first_address_ = 0;
    std::uint64_t low_ = 0;
    std::uint64_t high_ = 0;  // just past the highest data byte
};

}  // namespace ostrel
