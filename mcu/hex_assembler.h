#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mcu/hex_reader.h"

// Collects the data records of a HEX file in any order and lays them out as one image: every
// record in address order (file order among equal addresses), each over those before it, the
// bytes that two records share having to agree. The usual file, whose records come in
// ascending order without overlapping, is laid out without sorting.
namespace ostrel {

class hex_assembler {
  public:
    // A data record of `line` for `address`. Fails when it runs past the address space or
    // makes the image, or the data in all, larger than hex_image_limit.
    hex_defect add(std::uint32_t address, std::span<const std::uint8_t> data, std::size_t line);

    // Lays the records out from the lowest address to the highest, gaps 0x00, into `image`.
    // Fails, naming the line in `line` and leaving `image` alone, when two records give
    // different bytes for one address. Ends the assembler's use.
    hex_defect finish(hex_image& image, std::size_t& line);

  private:
    // A record that places data; its bytes are in pool_.
    struct piece {
        std::uint32_t address;
        std::uint32_t offset;  // into pool_
        std::uint32_t length;
        std::uint32_t line;
    };

    std::vector<piece> pieces_;
    std::vector<std::uint8_t> pool_;  // the data of all records, in file order
    bool ascending_ = true;           // each record lies at or after the end of those before
    bool seen_record_ = false;
    std::uint32_t first_address_ = 0;
    std::uint64_t low_ = 0;
    std::uint64_t high_ = 0;  // just past the highest data byte
};

}  // namespace ostrel
