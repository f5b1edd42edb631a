#pragma once

// What the bridge tests share: the requests the virtual bridge received, with the devices that
// hold an old image (tests/support/virtual_device.h) and the program's command line run
// in process. What the flash tells about an update is the oracle's
// (tests/support/bridge_oracle.h).
#include <cstdint>
#include <string>
#include <vector>

#include "sim/inprocess_device.h"
#include "tests/support/bridge_oracle.h"
#include "tests/support/cli_run.h"
#include "tests/support/process.h"
#include "tests/support/virtual_device.h"

namespace bridge_test {

using image = std::vector<std::uint8_t>;
using namespace ostrel::testing;

// The requests received, one word each: "T", "K 0x40000+0x40000", "A 0x07FF0+0x1",
// "D 0x30000+0x10000"; a run of 'A' or 'D' of one size at consecutive addresses is one word
// with its length: "A 0x20000+0x20 x1024". A request of a layout the device does not take
// (tests/support/request_layout.h) is the text of its fault.
std::vector<std::string> requests(const sim::inprocess_device& dev);

}  // namespace bridge_test
