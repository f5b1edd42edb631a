#pragma once

// The in-process virtual device as the tests set it up, one helper per set-up: a fresh
// device with its faults armed, one whose bridge flash holds an old image, a link connected
// to it, and a file written for the program to read.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "sim/inprocess_device.h"
#include "tests/support/process.h"

namespace ostrel::testing {

// A fresh device, the only one on USB, with `faults` armed (rules as `ostrel_sim fault`
// takes them).
sim::inprocess_device& fresh_device(const sim::device_options& options = {},
                                    const std::vector<std::string>& faults = {});

// A fresh device whose bridge flash holds `old_image` everywhere, the banks not named valid
// by the low four bits of `valid_banks` invalidated, `faults` armed.
sim::inprocess_device& device_holding(std::span<const std::uint8_t> old_image,
                                      std::uint8_t valid_banks,
                                      const sim::device_options& options = {},
                                      const std::vector<std::string>& faults = {});

// A link connected to the current device's application or bootloader (a failure to connect
// fails the test).
ostrel::device_link connected(sim::usb_mode mode = sim::usb_mode::application);

// `bytes` written to file `name` in `dir`; its path.
std::string write_image(const temp_dir& dir, const std::string& name,
                        std::span<const std::uint8_t> bytes);

}  // namespace ostrel::testing
