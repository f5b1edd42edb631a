#include <gtest/gtest.h>

#include <cstring>

#include "device/bootloader_thread.h"
#include "sim/inprocess_device.h"

namespace {

using ostrel::bootloader_thread;
using ostrel::hid_report;
using sim::inprocess_device;
using sim::usb_mode;

constexpr std::int64_t ms = 1'000'000;

sim::device_options with_versions(const std::string& app, const std::string& boot,
                                  const std::string& bridge) {
    sim::device_options options;
    options.app_version = app;
    options.bootloader_version = boot;
    options.bridge_version = bridge;
    return options;
}

TEST(AppVersion, ShortTextComesBackAs64BytesWithItsNuls) {
    inprocess_device::reset(with_versions("1.2.3", "b", "r"));
    bootloader_thread device;
    hid_report buffer{};
    ASSERT_TRUE(device.connect_app());
    const auto version = device.read_app_version(buffer);
    ASSERT_TRUE(version);
    EXPECT_EQ(*version, std::string("1.2.3") + std::string(59, '\0'));
}

TEST(AppVersion, StrayReportsAheadOfTheReplyAreSkipped) {
    auto& dev = inprocess_device::reset(with_versions("APP", "b", "r"));
    dev.arm("stray:app/*=2");
    bootloader_thread device;
    hid_report buffer{};
    ASSERT_TRUE(device.connect_app());
    const auto version = device.read_app_version(buffer);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->substr(0, 4), std::string("APP\0", 4));
}

TEST(AppVersion, NoReplyWithin10msFailsWithoutRetry) {
    auto& dev = inprocess_device::reset();
    dev.arm("noreply:app/*");
    bootloader_thread device;
    hid_report buffer{};
    ASSERT_TRUE(device.connect_app());
    const auto start = dev.now_ns();
    EXPECT_FALSE(device.read_app_version(buffer));
    EXPECT_EQ(dev.requests.size(), 1u);
    EXPECT_LE(dev.now_ns() - start, 11 * ms);
}

TEST(AppVersion, EndlessStreamOfUnrelatedReportsEndsAtTheDeadline) {
    auto& dev = inprocess_device::reset();
    dev.arm("noreply:app/*");
    dev.arm("stream");
    bootloader_thread device;
    hid_report buffer{};
    ASSERT_TRUE(device.connect_app());
    const auto start = dev.now_ns();
    EXPECT_FALSE(device.read_app_version(buffer));
    const double waited = static_cast<double>(dev.now_ns() - start) / ms;
    EXPECT_GT(waited, 2000.0);
    EXPECT_LT(waited, 2015.0);
}

TEST(AppVersion, FailsWithoutSendingWhenNoHandleIsOpen) {
    auto& dev = inprocess_device::reset();
    bootloader_thread device;
    hid_report buffer{};
    EXPECT_FALSE(device.read_app_version(buffer));
    EXPECT_TRUE(dev.requests.empty());
}

TEST(BootloaderVersion, TakesTheFirstReportWholeWhateverItsFirstByte) {
    sim::device_options options = with_versions("a", "BL-7", "r");
    options.mode = usb_mode::bootloader;
    auto& dev = inprocess_device::reset(options);
    bootloader_thread device;
    hid_report buffer{};
    buffer.fill(0xAB);  // what an earlier reply left: bytes 2 to 64 go out as they stand
    ASSERT_TRUE(device.connect_bootloader());
    const auto version = device.read_bootloader_version(buffer);
    ASSERT_TRUE(version);
    ASSERT_EQ(version->size(), 65u);
    EXPECT_EQ(version->substr(0, 5), std::string("BL-7\0", 5));
    // The input report fills bytes 0 to 63; byte 64 keeps what was in the buffer.
    EXPECT_EQ(static_cast<std::uint8_t>((*version)[64]), 0xAB);
    ASSERT_EQ(dev.requests.size(), 1u);
    EXPECT_EQ(dev.requests[0].via, sim::channel::output);
    EXPECT_EQ(dev.requests[0].bytes[0], 0x00);
    EXPECT_EQ(dev.requests[0].bytes[1], '*');
    EXPECT_EQ(dev.requests[0].bytes[2], 0xAB);
}

TEST(BootloaderVersion, AReportOfAnotherKindIsTakenAsTheVersion) {
    sim::device_options options;
    options.mode = usb_mode::bootloader;
    auto& dev = inprocess_device::reset(options);
    dev.arm("stray:boot/*=1");
    bootloader_thread device;
    hid_report buffer{};
    ASSERT_TRUE(device.connect_bootloader());
    const auto version = device.read_bootloader_version(buffer);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->substr(0, 6), "?stray");
}

TEST(BridgeVersion, ReadsTheNReplyAfterUnrelatedReports) {
    auto& dev = inprocess_device::reset(with_versions("a", "b", "VXR 9"));
    dev.arm("stray:app/N=3");
    bootloader_thread device;
    hid_report buffer{};
    ASSERT_TRUE(device.connect_app());
    const auto version = device.read_bridge_version(buffer);
    ASSERT_TRUE(version);
    EXPECT_EQ(*version, std::string("VXR 9") + std::string(59, '\0'));
}

TEST(BridgeVersion, AnEarlierReplyLeftInTheBufferDoesNotCount) {
    auto& dev = inprocess_device::reset();
    dev.arm("noreply:app/N");
    bootloader_thread device;
    hid_report buffer{};
    buffer[0] = 'N';
    ASSERT_TRUE(device.connect_app());
    const auto start = dev.now_ns();
    EXPECT_FALSE(device.read_bridge_version(buffer));
    const double waited = static_cast<double>(dev.now_ns() - start) / ms;
    EXPECT_GE(waited, 1000.0);
    EXPECT_LT(waited, 1002.0);
}

TEST(BridgeVersion, EndlessStreamEndsAtTheDeadline) {
    auto& dev = inprocess_device::reset();
    dev.arm("noreply:app/N");
    dev.arm("stream");
    bootloader_thread device;
    hid_report buffer{};
    ASSERT_TRUE(device.connect_app());
    const auto start = dev.now_ns();
    EXPECT_FALSE(device.read_bridge_version(buffer));
    const double waited = static_cast<double>(dev.now_ns() - start) / ms;
    EXPECT_GT(waited, 2000.0);
    EXPECT_LT(waited, 2015.0);
}

TEST(BridgeVersion, DeviceGoneMidQueryFails) {
    auto& dev = inprocess_device::reset();
    dev.arm("unplug=1");
    bootloader_thread device;
    hid_report buffer{};
    ASSERT_TRUE(device.connect_app());
    EXPECT_FALSE(device.read_bridge_version(buffer));
}

}  // namespace
