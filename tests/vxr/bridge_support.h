#pragma once

// What the bridge tests share: Fullrom images on disk, devices holding an old image, the
// program's command line run in-process, and looks at the virtual bridge's flash and at
// the requests it received.
#include <cstdint>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "sim/inprocess_device.h"
#include "tests/support/cli_run.h"
#include "tests/support/temp_dir.h"

namespace bridge_test {

using image = std::vector<std::uint8_t>;

struct area {
    std::uint32_t start;
    std::uint32_t size;
};
inline constexpr area config_bank[2] = {{0x00000, 0x8000}, {0x20000, 0x8000}};
inline constexpr area fw_bank[2] = {{0x08000, 0x18000}, {0x28000, 0x18000}};
inline constexpr area esm = {0x40000, 0x40000};

std::string write_image(const ostrel::testing::temp_dir& dir, const std::string& name,
                        const image& bytes);

// A fresh device whose flash holds `old_image` everywhere; the banks not named valid by the
// low four bits of `valid_banks` have their trailers zeroed at both ends, as the program
// invalidates a bank, so that an erase left out or not made shows.
sim::inprocess_device& device_holding(const image& old_image, std::uint8_t valid_banks);
ostrel::device_link connected();

using ostrel::testing::cli_result;
using ostrel::testing::run_cli;

// Whether the device's `where` holds the image's bytes at `source`.
bool holds(sim::inprocess_device& dev, area where, const image& bytes, area source);
// Whether the bank's trailer makes it valid (first and last byte neither 0x00 nor 0xFF).
bool valid(sim::inprocess_device& dev, area bank);
// Whether the bank of each pair the device runs from (bank 1 when valid) is valid and
// holds the image's copy, and the esm region the image's bytes.
bool runs(sim::inprocess_device& dev, const image& bytes);

// The requests received, one word each: "T", "K 0x40000+0x40000", "A 0x07FF0+0x1",
// "D 0x30000+0x10000"; a run of 'A' or 'D' of one size at consecutive addresses is one word
// with its length: "A 0x20000+0x20 x1024".
std::vector<std::string> requests(const sim::inprocess_device& dev);

}  // namespace bridge_test
