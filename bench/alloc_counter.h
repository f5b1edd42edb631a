#pragma once

#include <cstdint>

// Counts the calls of the global operator new (every form) in the benchmark executable, so
// that a benchmark can tell how many heap allocations a piece of code made.
namespace ostrel_bench {

std::uint64_t allocations();

}  // namespace ostrel_bench
