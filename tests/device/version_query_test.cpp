#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "device/device_link.h"
#include "sim/inprocess_device.h"

namespace {

using ostrel::device_link;
using ostrel::hid_report;
using sim::inprocess_device;
using sim::usb_mode;

constexpr double ms = 1e6;

// A device with the given versions, connected in `mode`, and a buffer for the queries.
struct connected {
    explicit connected(usb_mode mode, const std::vector<const char*>& faults = {}) {
        sim::device_options options;
        options.mode = mode;
        options.app_version = "1.2.3";
        options.bootloader_version = "BL-7";
        options.bridge_version = "VXR 9";
        dev = &inprocess_device::reset(options);
        for (const char* rule : faults) {
            dev->arm(rule);
        }
        EXPECT_TRUE(mode == usb_mode::application ? device.connect_app()
                                                  : device.connect_bootloader());
        start = dev->now_ns();
    }
    double waited_ms() const { return static_cast<double>(dev->now_ns() - start) / ms; }

    inprocess_device* dev;
    device_link device;
    hid_report buffer{};
    std::int64_t start;
};

std::string padded(const std::string& text, std::size_t size) {
    return text + std::string(size - text.size(), '\0');
}

// Each application query: its text past stray reports, or its deadline when the reply does
// not come (an earlier reply left in the buffer is not taken for it; a device that streams
// unrelated reports does not hold it for ever).
TEST(VersionQuery, ApplicationQueriesGiveTheirTextOrFailAtTheirDeadline) {
    const struct {
        bool bridge;
        std::vector<const char*> faults;
        std::optional<std::string> text;
        double min_ms, max_ms;
    } rows[] = {
        {false, {"stray:app/*=2"}, padded("1.2.3", 64), 0, 10},
        {true, {"stray:app/N=3"}, padded("VXR 9", 64), 0, 10},
        {false, {"noreply:app/*"}, std::nullopt, 0, 11},  // one 10 ms read
        {true, {"noreply:app/N"}, std::nullopt, 1000, 1002},
        {false, {"noreply", "stream"}, std::nullopt, 2000, 2015},
        {true, {"noreply", "stream"}, std::nullopt, 2000, 2015},
    };
    for (const auto& row : rows) {
        connected c(usb_mode::application, row.faults);
        c.buffer[0] = 'N';
        EXPECT_EQ(row.bridge ? c.device.read_bridge_version(c.buffer)
                             : c.device.read_app_version(c.buffer),
                  row.text)
            << row.faults[0];
        EXPECT_GE(c.waited_ms(), row.min_ms) << row.faults[0];
        EXPECT_LE(c.waited_ms(), row.max_ms) << row.faults[0];
        EXPECT_EQ(c.dev->requests.size(), 1u);
    }
}

TEST(VersionQuery, BootloaderTakesTheFirstReportWholeWhateverItsFirstByte) {
    connected c(usb_mode::bootloader, {"stray:boot/*=1"});
    c.buffer.fill(0xAB);  // what an earlier reply left: bytes 2 to 64 go out as they stand
    const auto version = c.device.read_bootloader_version(c.buffer);
    ASSERT_TRUE(version);
    ASSERT_EQ(version->size(), 65u);
    EXPECT_EQ(version->substr(0, 6), "?stray");
    // The 64-byte input report fills bytes 0 to 63; byte 64 keeps what was there.
    EXPECT_EQ(static_cast<std::uint8_t>(version->back()), 0xAB);
    const auto& request = c.dev->requests.back();
    EXPECT_EQ(request.via, sim::channel::output);
    EXPECT_EQ(request.bytes[1], '*');
    EXPECT_EQ(request.bytes[2], 0xAB);
}

TEST(VersionQuery, BootloaderReplyWithoutReportIdIsReadAsText) {
    connected c(usb_mode::bootloader);
    EXPECT_EQ(c.device.read_bootloader_version(c.buffer), padded("BL-7", 65));
}

}  // namespace
