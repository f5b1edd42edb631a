#pragma once

// Pseudo-random bytes for the images the virtual device's users make (the Fullrom and HEX
// files of `ostrel_sim`, tests and benchmarks): xorshift32 from a seed, the top byte of each
// step, so that a seed gives the same bytes everywhere.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// `size` bytes from `seed` (0 is taken as 0x9E3779B9, since xorshift never leaves 0).
inline std::vector<std::uint8_t> pseudo_random_bytes(std::size_t size, std::uint32_t seed) {
    std::uint32_t x = seed == 0 ? 0x9E3779B9 : seed;
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& byte : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

}  // namespace sim
