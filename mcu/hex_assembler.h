#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mcu/hex_reader.h"

// Collects the data records of a HEX file in any order and lays them out as one image.
//
// Records that come in ascending address order without overlapping (the usual file) are
// laid out as they come, straight into the image; the first one that lies lower than the
// end of those before it switches to collecting the rest and sorting everything at the end.
// Either way the image, and the record named in a conflict, are those of laying out every
// record in address order (file order among equal addresses).
namespace ostrel {

class hex_assembler {
  public:
    // For a text of `text_size` bytes, which bounds the number of records: room for them all
    // is set aside at once, and only what is written takes memory.
    explicit hex_assembler(std::size_t text_size);

    // A data record of `line` for `address`. Fails when it runs past the address space or
    // makes the image, or the data in all, larger than hex_image_limit.
    hex_defect add(std::uint32_t address, std::span<const std::uint8_t> data, std::size_t line);

    // Lays the records out from the lowest address to the highest, gaps 0x00, into `image`.
    // Fails, naming the line in `line` and leaving `image` alone, when two records give
    // different bytes for one address. Ends the assembler's use.
    hex_defect finish(hex_image& image, std::size_t& line);

  private:
    // A record that places data, in file order. The data of the first ascending_count_ is
    // in ascending_ at its address less the first one's; that of the others in pool_, one
    // after the other.
    struct piece {
        std::uint32_t address;
        std::uint32_t length;
        std::uint32_t line;
    };

    hex_defect finish_sorted(hex_image& image, std::size_t& line) const;

    std::vector<piece> pieces_;
    std::size_t ascending_count_ = 0;
    byte_vector ascending_;  // the ascending part, laid out from its first record's address
    std::vector<std::uint8_t> pool_;
    bool seen_record_ = false;
    std::uint32_t first_address_ = 0;
    std::size_t total_ = 0;  // data bytes of all records
    std::uint64_t low_ = 0;
    std::uint64_t high_ = 0;  // just past the highest data byte
};

}  // namespace ostrel
