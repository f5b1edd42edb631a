#pragma once

// What the bridge tests share: Fullrom images on disk, devices holding an old image, the
// program's command line run in-process, and the requests the virtual bridge received.
// What the flash tells about an update is the oracle's (tests/support/bridge_oracle.h).
#include <cstdint>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "sim/inprocess_device.h"
#include "tests/support/bridge_oracle.h"
#include "tests/support/cli_run.h"
#include "tests/support/process.h"

namespace bridge_test {

using image = std::vector<std::uint8_t>;
using namespace ostrel::testing;

std::string write_image(const temp_dir& dir, const std::string& name, const image& bytes);

// A fresh device whose flash holds `old_image` everywhere, the banks not named valid by the
// low four bits of `valid_banks` invalidated.
sim::inprocess_device& device_holding(const image& old_image, std::uint8_t valid_banks,
                                      const sim::device_options& options = {});
ostrel::device_link connected();

// The requests received, one word each: "T", "K 0x40000+0x40000", "A 0x07FF0+0x1",
// "D 0x30000+0x10000"; a run of 'A' or 'D' of one size at consecutive addresses is one word
// with its length: "A 0x20000+0x20 x1024". A request of a layout the device does not take
// (tests/support/request_layout.h) is the text of its fault.
std::vector<std::string> requests(const sim::inprocess_device& dev);

}  // namespace bridge_test
