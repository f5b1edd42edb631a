#include "tests/support/virtual_device.h"

#include <gtest/gtest.h>

#include "sim/bridge_flash.h"
#include "tests/support/bridge_oracle.h"

namespace ostrel::testing {

sim::inprocess_device& fresh_device(const sim::device_options& options,
                                    const std::vector<std::string>& faults) {
    auto& dev = sim::inprocess_device::reset(options);
    for (const std::string& fault : faults) {
        dev.arm(fault);
    }
    return dev;
}

sim::inprocess_device& device_holding(std::span<const std::uint8_t> old_image,
                                      std::uint8_t valid_banks, const sim::device_options& options,
                                      const std::vector<std::string>& faults) {
    auto& dev = sim::inprocess_device::reset(options);
    sim::load_bridge_flash(dev.state(), old_image);
    invalidate_banks(dev.state().bridge_flash, valid_banks);
    sim::refresh_bridge(dev.state());
    for (const std::string& fault : faults) {
        dev.arm(fault);
    }
    return dev;
}

ostrel::device_link connected(sim::usb_mode mode) {
    ostrel::device_link device;
    EXPECT_TRUE(mode == sim::usb_mode::application ? device.connect_app()
                                                   : device.connect_bootloader());
    return device;
}

std::string write_image(const temp_dir& dir, const std::string& name,
                        std::span<const std::uint8_t> bytes) {
    write_file(dir.file(name), std::string(bytes.begin(), bytes.end()));
    return dir.file(name);
}

}  // namespace ostrel::testing
