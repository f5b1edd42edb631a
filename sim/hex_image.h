#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

// An Intel HEX text of `size` pseudo-random bytes from `seed` for the microcontroller's
// application area (0x404000 onward), `record_bytes` (1 to 255) bytes a data record, with
// an extended linear address record wherever the upper address changes, and the
// end-of-file record. For demonstrations, test stations and benchmarks.
std::string make_hex_text(std::size_t size, std::uint32_t seed, std::size_t record_bytes);

}  // namespace sim
