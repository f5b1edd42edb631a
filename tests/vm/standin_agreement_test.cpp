// What the kernel's hidraw driver was seen to do, pinned on the hidapi stand-in so that the
// two keep agreeing (the kernel_hid_vm test compares them whole).
#include <gtest/gtest.h>

#include <array>

#include <hidapi.h>

#include "device/report.h"
#include "sim/inprocess_device.h"

namespace {

using namespace ostrel;
using sim::inprocess_device;

int read_code(hid_device* handle) {
    hid_report buffer{};
    return hid_read_timeout(handle, buffer.data(), buffer.size(), 10) > 0 ? buffer[0] : -1;
}

TEST(StandInAgreesWithHidraw, EveryOpenHandleReadsItsOwnCopyOfEachReport) {
    inprocess_device::reset();
    hid_device* first = hid_open(device_vendor_id, app_product_id, nullptr);
    const hid_report star = make_request('*');
    hid_send_feature_report(first, star.data(), star.size());
    hid_device* second = hid_open(device_vendor_id, app_product_id, nullptr);
    EXPECT_EQ(read_code(second), -1);  // arrived before it opened
    EXPECT_EQ(read_code(first), '*');  // and is still the first handle's
    const hid_report t = make_request('T');
    hid_send_feature_report(second, t.data(), t.size());
    EXPECT_EQ(read_code(first), 'T');
    EXPECT_EQ(read_code(second), 'T');
    hid_close(second);
    hid_send_feature_report(first, star.data(), star.size());
    EXPECT_EQ(read_code(first), '*');
    hid_close(first);
}

TEST(StandInAgreesWithHidraw, ShortReportIsRefusedAndLongWriteReturnsItsLength) {
    auto& dev = inprocess_device::reset();
    hid_device* handle = hid_open(device_vendor_id, app_product_id, nullptr);
    std::array<unsigned char, 80> bytes{0x00, '*'};
    EXPECT_EQ(hid_send_feature_report(handle, bytes.data(), 1), -1);
    EXPECT_EQ(hid_write(handle, bytes.data(), 1), -1);
    EXPECT_TRUE(dev.requests.empty());
    EXPECT_EQ(hid_send_feature_report(handle, bytes.data(), 2), 2);
    EXPECT_EQ(hid_send_feature_report(handle, bytes.data(), bytes.size()), 80);
    EXPECT_EQ(dev.requests.size(), 2u);
    hid_close(handle);
}

}  // namespace
