#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/device_link.h"
#include "sim/inprocess_device.h"
#include "tests/support/request_layout.h"
#include "tests/support/virtual_device.h"

// A virtual device running its bootloader with a connected device object.
namespace ostrel::testing {

inline constexpr std::int64_t ms = 1'000'000;

class BootloaderTest : public ::testing::Test {
  protected:
    void SetUp() override { fresh(); }

    // A fresh device in its bootloader, `faults` armed, and the link connected to it.
    void fresh(const std::vector<std::string>& faults = {}) {
        device = {};  // closed while its device is there
        dev = &fresh_device({.mode = sim::usb_mode::bootloader}, faults);
        device = connected(sim::usb_mode::bootloader);
    }

    // The command bytes of every request so far, e.g. "DDP"; a request of a layout the device
    // does not take (tests/support/request_layout.h) is the text of its fault in brackets.
    std::string commands() const {
        std::string text;
        for (const auto& request : dev->requests) {
            const char* fault = request_fault(request.mode == sim::usb_mode::application,
                                              request.via == sim::channel::feature, request.bytes);
            text += fault != nullptr ? "[" + std::string(fault) + "]"
                                     : std::string(1, static_cast<char>(request.bytes[1]));
        }
        return text;
    }

    // The application area as the device holds it.
    byte_vector flash() const {
        return {dev->state().mcu_flash, dev->state().mcu_flash + sim::mcu_flash_size};
    }

    sim::inprocess_device* dev = nullptr;
    device_link device;
};

}  // namespace ostrel::testing
