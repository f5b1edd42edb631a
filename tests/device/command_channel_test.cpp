#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "device/bootloader_thread.h"
#include "device/command_channel.h"
#include "sim/inprocess_device.h"

namespace {

using namespace ostrel;
using sim::inprocess_device;
using ::testing::ElementsAreArray;

constexpr std::int64_t ms = 1'000'000;
constexpr std::array<std::uint8_t, 2> t_or_e{'T', 'E'};

// An open application handle on a fresh device, with 'T' already sent so that its reply
// waits in the input queue.
hid_device* handle_with_queued_reply(inprocess_device& dev) {
    hid_device* handle = hid_open(device_vendor_id, app_product_id, nullptr);
    const hid_report request = build_bank_status_request();
    hid_send_feature_report(handle, request.data(), request.size());
    EXPECT_EQ(dev.state().queue_count, 1u);
    return handle;
}

TEST(ReadReply, EmptyAcceptedSetGivesNothingWithoutReading) {
    auto& dev = inprocess_device::reset();
    hid_device* handle = handle_with_queued_reply(dev);
    EXPECT_FALSE(read_reply(handle, {}, 1000));
    EXPECT_EQ(dev.state().queue_count, 1u);
    hid_close(handle);
}

TEST(ReadReply, AcceptedZeroIsMetByTheEmptyBufferAtOnce) {
    auto& dev = inprocess_device::reset();
    hid_device* handle = handle_with_queued_reply(dev);
    const std::array<std::uint8_t, 2> odd{'Q', 0x00};
    const auto reply = read_reply(handle, odd, 1000);
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)[0], 0x00);
    EXPECT_EQ(dev.state().queue_count, 1u);  // nothing was read
    hid_close(handle);
}

TEST(ReadReply, ZeroTimeoutStillReadsBeforeTheFirstWholeMillisecond) {
    auto& dev = inprocess_device::reset();
    hid_device* handle = handle_with_queued_reply(dev);
    const auto reply = read_reply(handle, t_or_e, 0);
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)[0], 'T');
    hid_close(handle);
}

TEST(ReadReply, NegativeTimeoutGivesNothingWithoutReading) {
    auto& dev = inprocess_device::reset();
    hid_device* handle = handle_with_queued_reply(dev);
    EXPECT_FALSE(read_reply(handle, t_or_e, -1));
    EXPECT_EQ(dev.state().queue_count, 1u);
    hid_close(handle);
}

TEST(ReadReply, NullHandleWatchesTheClockUntilTheDeadline) {
    auto& dev = inprocess_device::reset();
    const auto start = dev.now_ns();
    EXPECT_FALSE(read_reply(nullptr, t_or_e, 5));
    const auto waited = dev.now_ns() - start;
    EXPECT_GT(waited, 5 * ms);
    EXPECT_LT(waited, 7 * ms);
}

TEST(SendAppCommand, RefusalEndsTheWaitAtOnce) {
    auto& dev = inprocess_device::reset();
    dev.arm("refuse:app/T");
    bootloader_thread device;
    ASSERT_TRUE(device.connect_app());
    const auto start = dev.now_ns();
    EXPECT_FALSE(send_app_command(device.app_handle, build_bank_status_request(), 'T'));
    EXPECT_LT(dev.now_ns() - start, ms);
}

TEST(SendAppCommand, UnrelatedReportsDoNotExtendTheWait) {
    auto& dev = inprocess_device::reset();
    dev.arm("noreply:app/T");
    dev.arm("stream");
    bootloader_thread device;
    ASSERT_TRUE(device.connect_app());
    const auto start = dev.now_ns();
    EXPECT_FALSE(send_app_command(device.app_handle, build_bank_status_request(), 'T'));
    const double waited = static_cast<double>(dev.now_ns() - start) / ms;
    EXPECT_GT(waited, 1000.0);
    EXPECT_LT(waited, 1003.0);
}

TEST(SendAppCommand, LateReplyWithinTheSecondIsTaken) {
    auto& dev = inprocess_device::reset();
    dev.arm("delay:app/T=900");
    bootloader_thread device;
    ASSERT_TRUE(device.connect_app());
    const auto reply = send_app_command(device.app_handle, build_bank_status_request(), 'T');
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)[1], dev.state().bank_status);
}

TEST(SendAppCommand, NullHandleSendsNothing) {
    auto& dev = inprocess_device::reset();
    EXPECT_FALSE(send_app_command(nullptr, build_bank_status_request(), 'T'));
    EXPECT_TRUE(dev.requests.empty());
}

// The request layouts, byte for byte; every byte not listed is zero.
hid_report expected(std::initializer_list<std::uint8_t> head) {
    hid_report report{};
    std::copy(head.begin(), head.end(), report.begin());
    return report;
}

TEST(RequestLayout, BankStatus) {
    EXPECT_THAT(build_bank_status_request(), ElementsAreArray(expected({0x00, 'T'})));
}

TEST(RequestLayout, ChecksumCarriesAddressAndLengthLittleEndian) {
    EXPECT_THAT(build_checksum_request(0x00028000, 0x00018000),
                ElementsAreArray(expected({0x00, 'K', 0x00, 0x80, 0x02, 0x00, 0x00, 0x80, 0x01,
                                           0x00})));
}

TEST(RequestLayout, WriteCarriesCountAddressAndData) {
    const std::array<std::uint8_t, 3> data{0xDE, 0xAD, 0x01};
    EXPECT_THAT(build_write_request(0x27FF0, data),
                ElementsAreArray(expected({0x00, 'A', 3, 0xF0, 0x7F, 0x02, 0x00, 0xDE, 0xAD,
                                           0x01})));
    std::array<std::uint8_t, 32> full{};
    full.fill(0x5A);
    const hid_report longest = build_write_request(0x10, full);
    EXPECT_EQ(longest[2], 32);
    EXPECT_EQ(longest[38], 0x5A);
    EXPECT_EQ(longest[39], 0x00);
}

TEST(RequestLayout, SectorEraseCarriesSectorNumberAndWord) {
    EXPECT_THAT(build_sector_erase_request(0x27000),
                ElementsAreArray(expected({0x00, 'D', 0x80, 0x27, 'K', 'Q', 'W', 'I', 'P', 'E',
                                           'Z', 'O', 'N'})));
}

TEST(RequestLayout, BlockEraseCarriesBlockNumberAndWord) {
    EXPECT_THAT(build_block_erase_request(0x30000),
                ElementsAreArray(expected({0x00, 'D', 0x03, 0x00, 'K', 'Q', 'W', 'I', 'P', 'E',
                                           'Z', 'O', 'N'})));
}

}  // namespace
