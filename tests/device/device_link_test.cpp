// The link to the device: connecting and the wait for re-enumeration, the application's
// queries and commands with their deadlines, and the bootloader's version query. The bytes of
// every request are checked against the device's layouts (tests/support/request_layout.h)
// wherever tests list the requests (tests/vxr/bridge_support.h, tests/mcu/bootloader_fixture.h).
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <vector>

#include "device/command_channel.h"
#include "device/device_link.h"
#include "sim/inprocess_device.h"
#include "tests/support/cli_run.h"
#include "tests/support/virtual_device.h"
#include "vxr/flash_requests.h"

namespace {

using namespace ostrel;
using namespace ostrel::testing;
using ostrel::vxr::build_bank_status_request;
using sim::inprocess_device;
using sim::usb_mode;

constexpr std::int64_t ms = 1'000'000;
constexpr std::array<std::uint8_t, 2> t_or_e{'T', 'E'};

const sim::device_options versions{
    .app_version = "1.2.3", .bootloader_version = "BL-7", .bridge_version = "VXR 9"};

TEST(ConnectBootloader, SwitchesFromApplicationAndReopensAfter250ms) {
    auto& dev = fresh_device();
    const device_link device = connected(usb_mode::bootloader);
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

// A link opens only the device its run claimed: none when the run found none, and by the id
// alone only the one listed, never one of several.
TEST(ConnectApp, OpensNoDeviceTheRunDidNotClaim) {
    for (const bool two : {false, true}) {
        auto& dev = inprocess_device::reset();
        if (two) {
            inprocess_device::add({});
        }
        device_link device;
        device.place.nowhere = !two;
        EXPECT_FALSE(device.connect_app());
        EXPECT_FALSE(device.connect_bootloader());
        EXPECT_TRUE(dev.opens.empty());
        EXPECT_TRUE(inprocess_device::at(two ? 1 : 0).opens.empty());
    }
}

// Each application query and command: its answer past stray reports, or its deadline when
// the answer does not come (an earlier reply left in the buffer is not taken for it; a
// device that streams unrelated reports does not hold it for ever; a refusal ends it).
TEST(ApplicationChannel, EveryQueryAnswersOrGivesUpAtItsDeadline) {
    enum class ask : std::uint8_t { app_version, bridge_version, bank_status };
    const struct {
        ask what;
        std::vector<std::string> faults;
        std::optional<std::string> answer;
        double min_ms, max_ms;
    } rows[] = {
        {ask::app_version, {"stray:app/*=2"}, padded("1.2.3", 64), 0, 10},
        {ask::bridge_version, {"stray:app/N=3"}, padded("VXR 9", 64), 0, 10},
        {ask::app_version, {"noreply:app/*"}, std::nullopt, 0, 11},  // one 10 ms read
        {ask::bridge_version, {"noreply:app/N"}, std::nullopt, 1000, 1002},
        {ask::app_version, {"noreply", "stream"}, std::nullopt, 2000, 2015},
        {ask::bridge_version, {"noreply", "stream"}, std::nullopt, 2000, 2015},
        {ask::bank_status, {}, "T", 0, 1},
        {ask::bank_status, {"refuse:app/T"}, std::nullopt, 0, 1},
        {ask::bank_status, {"delay:app/T=900"}, "T", 900, 901},
        {ask::bank_status, {"delay:app/T=1100"}, std::nullopt, 1000, 1002},
        {ask::bank_status, {"noreply:app/T", "stream"}, std::nullopt, 1000, 1003},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.faults.empty() ? "" : row.faults[0]);
        auto& dev = fresh_device(versions, row.faults);
        device_link device = connected();
        const std::int64_t start = dev.now_ns();
        hid_report buffer{};
        buffer[0] = 'N';
        std::optional<std::string> answer;
        if (row.what == ask::bank_status) {
            const auto reply = device.app_command(build_bank_status_request(), 'T');
            answer = reply ? std::optional<std::string>(std::string(1, char((*reply)[0])))
                           : std::nullopt;
        } else {
            answer = row.what == ask::bridge_version ? device.read_bridge_version(buffer)
                                                     : device.read_app_version(buffer);
        }
        const double waited_ms = static_cast<double>(dev.now_ns() - start) / ms;
        EXPECT_EQ(answer, row.answer);
        EXPECT_GE(waited_ms, row.min_ms);
        EXPECT_LE(waited_ms, row.max_ms);
        EXPECT_EQ(dev.requests.size(), 1u);
    }
}

// Nothing to read from (a device that has left USB; with no handle the program's send fails
// first): the millisecond is waited out, up to the deadline and no longer.
TEST(ReadReply, DeviceThatLeftIsPolledOncePerMillisecondNotSpun) {
    auto& dev = inprocess_device::reset();
    hid_device* handle = hid_open(device_vendor_id, app_product_id, nullptr);
    const hid_report request = build_bank_status_request();
    hid_send_feature_report(handle, request.data(), request.size());  // its reply waits
    dev.arm("unplug=1");
    hid_send_feature_report(handle, request.data(), request.size());  // the device leaves
    const auto start = dev.now_ns();
    const auto calls = dev.hid_calls;
    EXPECT_FALSE(read_reply(handle, t_or_e, 1000));
    EXPECT_GT(dev.now_ns() - start, 1000 * ms);
    EXPECT_LT(dev.now_ns() - start, 1002 * ms);
    EXPECT_LT(dev.hid_calls - calls, 1100u);
    hid_close(handle);
}

// The bootloader's version: the first report whole, whatever its first byte; its bytes 2 to 64
// go out as an earlier reply left them. A reply without a report id is read as text.
TEST(VersionQuery, BootloaderTakesTheFirstReportWholeWhateverItsFirstByte) {
    auto& dev = fresh_device({.mode = usb_mode::bootloader, .bootloader_version = "BL-7"});
    device_link device = connected(usb_mode::bootloader);
    hid_report buffer{};
    EXPECT_EQ(device.read_bootloader_version(buffer), padded("BL-7", 65));
    dev.arm("stray:boot/*=1");
    buffer.fill(0xAB);
    const auto version = device.read_bootloader_version(buffer);
    ASSERT_TRUE(version);
    ASSERT_EQ(version->size(), 65u);
    EXPECT_EQ(version->substr(0, 6), "?stray");
    // The 64-byte input report fills bytes 0 to 63; byte 64 keeps what was there.
    EXPECT_EQ(static_cast<std::uint8_t>(version->back()), 0xAB);
    const auto& request = dev.requests.back();
    EXPECT_EQ(request.via, sim::channel::output);
    EXPECT_EQ(request.bytes[1], '*');
    EXPECT_EQ(request.bytes[2], 0xAB);
}

}  // namespace
