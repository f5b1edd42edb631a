#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "device/command_channel.h"
#include "device/device_link.h"
#include "sim/inprocess_device.h"
#include "vxr/flash_requests.h"

namespace {

using namespace ostrel;
using sim::inprocess_device;
using ::testing::ElementsAreArray;

constexpr std::int64_t ms = 1'000'000;
constexpr std::array<std::uint8_t, 2> t_or_e{'T', 'E'};

// An open application handle whose 'T' reply already waits in the input queue.
struct queued_reply {
    queued_reply() : dev(inprocess_device::reset()) {
        handle = hid_open(device_vendor_id, app_product_id, nullptr);
        const hid_report request = build_bank_status_request();
        hid_send_feature_report(handle, request.data(), request.size());
    }
    ~queued_reply() { hid_close(handle); }

    inprocess_device& dev;
    hid_device* handle;
};

TEST(ReadReply, NullHandleWatchesTheClockUntilTheDeadline) {
    auto& dev = inprocess_device::reset();
    const auto start = dev.now_ns();
    EXPECT_FALSE(read_reply(nullptr, t_or_e, 5));
    EXPECT_GT(dev.now_ns() - start, 5 * ms);
    EXPECT_LT(dev.now_ns() - start, 7 * ms);
}

TEST(ReadReply, DeviceThatLeftIsPolledOncePerMillisecondNotSpun) {
    queued_reply q;
    q.dev.arm("unplug=1");
    const hid_report request = build_bank_status_request();
    hid_send_feature_report(q.handle, request.data(), request.size());  // the device leaves
    const auto start = q.dev.now_ns();
    const auto calls = q.dev.hid_calls;
    EXPECT_FALSE(read_reply(q.handle, t_or_e, 1000));
    EXPECT_GT(q.dev.now_ns() - start, 1000 * ms);
    EXPECT_LT(q.dev.hid_calls - calls, 1100u);
}

// How long send_app_command waits, and whether it gets a reply, under each fault.
TEST(SendAppCommand, WaitsUpToOneSecondEndedEarlyOnlyByAReplyOrARefusal) {
    struct row {
        std::vector<const char*> faults;
        bool replied;
        double min_ms, max_ms;
    };
    for (const row& r : std::vector<row>{{{}, true, 0, 1},
                                         {{"refuse:app/T"}, false, 0, 1},
                                         {{"delay:app/T=900"}, true, 900, 901},
                                         {{"delay:app/T=1100"}, false, 1000, 1002},
                                         {{"noreply:app/T", "stream"}, false, 1000, 1003}}) {
        auto& dev = inprocess_device::reset();
        for (const char* fault : r.faults) {
            dev.arm(fault);
        }
        device_link device;
        ASSERT_TRUE(device.connect_app());
        const auto start = dev.now_ns();
        const auto reply = device.app_command(build_bank_status_request(), 'T');
        const double waited = static_cast<double>(dev.now_ns() - start) / ms;
        EXPECT_EQ(reply.has_value(), r.replied) << r.faults.size();
        EXPECT_GE(waited, r.min_ms);
        EXPECT_LE(waited, r.max_ms);
    }
}

// The request layouts, byte for byte; every byte not listed is zero.
hid_report expected(std::initializer_list<std::uint8_t> head) {
    hid_report report{};
    std::copy(head.begin(), head.end(), report.begin());
    return report;
}

TEST(RequestLayout, EveryApplicationCommandByteForByte) {
    EXPECT_THAT(build_bank_status_request(), ElementsAreArray(expected({0, 'T'})));
    EXPECT_THAT(build_checksum_request(0x00028000, 0x00018000),
                ElementsAreArray(expected({0, 'K', 0x00, 0x80, 0x02, 0, 0x00, 0x80, 0x01, 0})));
    const std::array<std::uint8_t, 3> data{0xDE, 0xAD, 0x01};
    EXPECT_THAT(build_write_request(0x27FF0, data),
                ElementsAreArray(expected({0, 'A', 3, 0xF0, 0x7F, 0x02, 0, 0xDE, 0xAD, 0x01})));
    std::array<std::uint8_t, 32> longest{};
    longest.fill(0x5A);
    EXPECT_EQ(build_write_request(0x10, longest)[38], 0x5A);  // the last of 32 data bytes
    EXPECT_THAT(build_sector_erase_request(0x27000),
                ElementsAreArray(
                    expected({0, 'D', 0x80, 0x27, 'K', 'Q', 'W', 'I', 'P', 'E', 'Z', 'O', 'N'})));
    EXPECT_THAT(build_block_erase_request(0x30000),
                ElementsAreArray(
                    expected({0, 'D', 0x03, 0x00, 'K', 'Q', 'W', 'I', 'P', 'E', 'Z', 'O', 'N'})));
}

}  // namespace
