#include <gtest/gtest.h>

#include <array>

#include <hidapi.h>

#include "device/report.h"
#include "sim/inprocess_device.h"

namespace {

using namespace ostrel;
using sim::inprocess_device;
using sim::usb_mode;

constexpr std::int64_t ms = 1'000'000;

int send_feature(hid_device* handle, std::uint8_t command, std::uint8_t report_number = 0) {
    hid_report request = make_request(command);
    request[0] = report_number;
    return hid_send_feature_report(handle, request.data(), request.size());
}

TEST(VirtualDevice, ReadsGive64ByteReportsFromByteZero) {
    inprocess_device::reset();
    hid_device* handle = hid_open(device_vendor_id, app_product_id, nullptr);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(send_feature(handle, 'T'), 65);
    hid_report buffer{};
    buffer.fill(0xEE);
    EXPECT_EQ(hid_read_timeout(handle, buffer.data(), buffer.size(), 0), 64);
    EXPECT_EQ(buffer[0], 'T');
    EXPECT_EQ(buffer[64], 0xEE);
    EXPECT_EQ(hid_read_timeout(handle, buffer.data(), buffer.size(), 5), 0);
    hid_close(handle);
}

TEST(VirtualDevice, ModeSwitchKillsOldHandlesAndReappearsAfterTheDelay) {
    sim::device_options options;
    options.reenumeration_ms = 300;
    auto& dev = inprocess_device::reset(options);
    hid_device* app = hid_open(device_vendor_id, app_product_id, nullptr);
    send_feature(app, 'B');
    hid_report buffer{};
    EXPECT_EQ(hid_read_timeout(app, buffer.data(), buffer.size(), 1), -1);
    EXPECT_EQ(send_feature(app, 'T'), -1);
    dev.advance_ns(299 * ms);
    EXPECT_EQ(hid_open(device_vendor_id, bootloader_product_id, nullptr), nullptr);
    dev.advance_ns(1 * ms);
    hid_device* boot = hid_open(device_vendor_id, bootloader_product_id, nullptr);
    EXPECT_NE(boot, nullptr);
    EXPECT_EQ(hid_open(device_vendor_id, app_product_id, nullptr), nullptr);
    hid_close(app);
    hid_close(boot);
}

TEST(VirtualDevice, OnlyTheBuildsVendorIdOpensIt) {
    inprocess_device::reset();
    EXPECT_EQ(hid_open(static_cast<unsigned short>(device_vendor_id + 1), app_product_id, nullptr),
              nullptr);
}

TEST(VirtualDevice, NumberedOrMisroutedReportsGoAstray) {
    auto& dev = inprocess_device::reset();
    hid_device* handle = hid_open(device_vendor_id, app_product_id, nullptr);
    send_feature(handle, 'T', 0x41);
    const hid_report request = make_request('T');
    hid_write(handle, request.data(), request.size());  // output report to the application
    EXPECT_EQ(dev.state().queue_count, 0u);
    EXPECT_EQ(dev.requests.size(), 2u);  // both logged, neither answered
    hid_close(handle);
}

TEST(VirtualDevice, FullInputQueueDropsNewReports) {
    auto& dev = inprocess_device::reset();
    hid_device* handle = hid_open(device_vendor_id, app_product_id, nullptr);
    for (int i = 0; i < 70; ++i) {
        send_feature(handle, 'T');
    }
    EXPECT_EQ(dev.state().queue_count, sim::input_queue_capacity - 1);
    hid_close(handle);
}

TEST(VirtualDevice, UnplugAfterNRequestsLosesTheLastReply) {
    auto& dev = inprocess_device::reset();
    dev.arm("unplug=2");
    hid_device* handle = hid_open(device_vendor_id, app_product_id, nullptr);
    hid_report buffer{};
    send_feature(handle, 'T');
    EXPECT_EQ(hid_read_timeout(handle, buffer.data(), buffer.size(), 1), 64);
    send_feature(handle, 'T');
    EXPECT_EQ(hid_read_timeout(handle, buffer.data(), buffer.size(), 1), -1);
    EXPECT_EQ(dev.state().mode, usb_mode::absent);
    sim::replug(dev.state(), usb_mode::application);
    hid_device* again = hid_open(device_vendor_id, app_product_id, nullptr);
    EXPECT_NE(again, nullptr);
    hid_close(again);
    hid_close(handle);
}

TEST(VirtualDevice, DeniedDeviceIsListedButDoesNotOpen) {
    auto& dev = inprocess_device::reset();
    dev.arm("denied");
    hid_device_info* list = hid_enumerate(device_vendor_id, app_product_id);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->product_id, app_product_id);
    hid_free_enumeration(list);
    EXPECT_EQ(hid_open(device_vendor_id, app_product_id, nullptr), nullptr);
}

TEST(VirtualDevice, NthOccurrenceRuleFiresOnce) {
    auto& dev = inprocess_device::reset();
    dev.arm("refuse:app/T@2");
    hid_device* handle = hid_open(device_vendor_id, app_product_id, nullptr);
    std::string codes;
    for (int i = 0; i < 3; ++i) {
        send_feature(handle, 'T');
        hid_report buffer{};
        hid_read_timeout(handle, buffer.data(), buffer.size(), 1);
        codes += static_cast<char>(buffer[0]);
    }
    EXPECT_EQ(codes, "TET");
    hid_close(handle);
}

}  // namespace
