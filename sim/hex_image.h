#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Intel HEX text for the virtual device's users: `ostrel_sim hex`, benchmarks and tests.
// Written independently of the program's reader.
namespace sim {

// One record line with its checksum, no line end.
std::string hex_line(std::uint8_t type, std::uint16_t offset,
                     const std::vector<std::uint8_t>& data);

inline const std::string hex_eof = ":00000001FF";

// Data records for `data` at `address`, `per_line` bytes each (1 to 255), with an extended
// linear address record wherever the upper 16 address bits change; a record never crosses a
// 64 KiB boundary. No end record.
std::string hex_records(std::uint32_t address, const std::vector<std::uint8_t>& data,
                        std::size_t per_line = 16);

// A whole file: the records and the end-of-file record.
std::string hex_file(std::uint32_t address, const std::vector<std::uint8_t>& data,
                     std::size_t per_line = 16);

// An Intel HEX text of `size` pseudo-random bytes from `seed` for the microcontroller's
// application area (0x404000 onward), `record_bytes` bytes a data record. For
// demonstrations, test stations and benchmarks.
std::string make_hex_text(std::size_t size, std::uint32_t seed, std::size_t record_bytes);

}  // namespace sim
