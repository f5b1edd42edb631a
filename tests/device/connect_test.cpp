#include <gtest/gtest.h>

#include "device/device_link.h"
#include "sim/inprocess_device.h"

namespace {

using ostrel::device_link;
using sim::inprocess_device;
using sim::usb_mode;

constexpr std::int64_t ms = 1'000'000;

TEST(ConnectBootloader, SwitchesFromApplicationAndReopensAfter250ms) {
    auto& dev = inprocess_device::reset();
    device_link device;
    ASSERT_TRUE(device.connect_bootloader());
    EXPECT_TRUE(device.bootloader_open());
    EXPECT_FALSE(device.app_open());
    ASSERT_EQ(dev.requests.size(), 1u);
    EXPECT_EQ(dev.requests[0].bytes[1], 'B');
    EXPECT_EQ(dev.requests[0].via, sim::channel::feature);
    // Opens: bootloader (fails), application (temporary), then every 250 ms until the
    // device is back (default re-enumeration 500 ms).
    ASSERT_EQ(dev.opens.size(), 4u);
    const auto sent = dev.requests[0].time_ns;
    EXPECT_NEAR(static_cast<double>(dev.opens[2].time_ns - sent) / ms, 250.0, 0.1);
    EXPECT_FALSE(dev.opens[2].opened);
    EXPECT_NEAR(static_cast<double>(dev.opens[3].time_ns - sent) / ms, 500.0, 0.1);
    EXPECT_TRUE(dev.opens[3].opened);
    EXPECT_EQ(dev.state().mode, usb_mode::bootloader);
}

TEST(ConnectBootloader, GivesUpJustAfter15000msNotEarlier) {
    auto& dev = inprocess_device::reset();
    dev.arm("noreturn");
    device_link device;
    EXPECT_FALSE(device.connect_bootloader());
    EXPECT_FALSE(device.bootloader_open());
    const auto sent = dev.requests.at(0).time_ns;
    const double waited = static_cast<double>(dev.now_ns() - sent) / ms;
    EXPECT_GT(waited, 15000.0);
    EXPECT_LE(waited, 15251.0);
    // The last attempt to open came after more than 15000 ms... not before.
    EXPECT_GE(static_cast<double>(dev.opens.back().time_ns - sent) / ms, 15000.0);
}

}  // namespace
