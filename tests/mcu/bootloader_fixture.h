#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/bootloader_thread.h"
#include "sim/inprocess_device.h"

// A virtual device running its bootloader with a connected device object.
namespace ostrel::testing {

inline constexpr std::int64_t ms = 1'000'000;

class BootloaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::device_options options;
        options.mode = sim::usb_mode::bootloader;
        dev = &sim::inprocess_device::reset(options);
        ASSERT_TRUE(device.connect_bootloader());
    }

    // The command bytes of every request so far, e.g. "DDP".
    std::string commands() const {
        std::string text;
        for (const auto& request : dev->requests) {
            text += static_cast<char>(request.bytes[1]);
        }
        return text;
    }

    std::size_t count(std::uint8_t command) const {
        std::size_t n = 0;
        for (const auto& request : dev->requests) {
            n += request.bytes[1] == command ? 1 : 0;
        }
        return n;
    }

    std::uint32_t address_of(const sim::request_record& request) const {
        return get_u32_le(request.bytes, 3);
    }

    // The application area as the device holds it.
    byte_vector flash() const {
        const auto& state = dev->state();
        return {state.mcu_flash, state.mcu_flash + sim::mcu_flash_size};
    }

    // Puts a report with `status` in the input queue, arriving now.
    void queue_status(std::uint8_t status) {
        auto& state = dev->state();
        ASSERT_LT(state.queue_count, sim::input_queue_capacity);
        auto& slot = state.queue[state.queue_count++];
        slot = {};
        slot.deliver_at_ns = dev->now_ns();
        slot.data[0] = status;
    }

    sim::inprocess_device* dev = nullptr;
    bootloader_thread device;
};

}  // namespace ostrel::testing
