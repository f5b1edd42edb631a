#pragma once

// What the bridge tests share: Fullrom images on disk, devices holding an old image, the
// program's command line run in-process, and looks at the virtual bridge's flash and at
// the requests the device received.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/inprocess_device.h"
#include "tests/support/temp_dir.h"

namespace bridge_test {

using image = std::vector<std::uint8_t>;

// The flash map as the tests check it.
struct area {
    std::uint32_t start;
    std::uint32_t size;
};
inline constexpr area config_bank[2] = {{0x00000, 0x8000}, {0x20000, 0x8000}};
inline constexpr area fw_bank[2] = {{0x08000, 0x18000}, {0x28000, 0x18000}};
inline constexpr area esm = {0x40000, 0x40000};

// A generated image (sim::make_fullrom_image) written to `dir`.
std::string write_image(const ostrel::testing::temp_dir& dir, const std::string& name,
                        const image& bytes);

// A fresh in-process device whose flash holds `old_image` in the banks named by the low
// four bits of `valid` and in the esm region; the other banks are erased.
sim::inprocess_device& device_holding(const image& old_image, std::uint8_t valid);

// The program's command line, run in-process.
struct cli_result {
    int status;
    std::string out;
    std::string err;
};
cli_result run_cli(std::vector<std::string> args);

std::span<const std::uint8_t> flash(sim::inprocess_device& dev, area where);
// Whether the device's `where` holds the image's bytes of `source`.
bool holds(sim::inprocess_device& dev, area where, const image& bytes, area source);
// Whether the bank's trailer makes it valid (first and last byte neither 0x00 nor 0xFF).
bool valid(sim::inprocess_device& dev, area bank);

// A request as the device got it, decoded.
struct request {
    std::uint8_t command;
    std::uint32_t address;  // 'K', 'A', 'D'
    std::uint32_t length;   // 'K': the length; 'A': the data count; 'D': 4096 or 65536
    std::uint8_t first_data;
};
std::vector<request> requests(const sim::inprocess_device& dev);
std::vector<request> requests_of(const sim::inprocess_device& dev, std::uint8_t command);
std::string describe(const request& r);

}  // namespace bridge_test
