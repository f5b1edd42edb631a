// ostrel_uhid hands the model the same 65 bytes the hidapi stand-in would.
#include "sim/uhid/report_framing.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

using sim::uhid::model_request;
using sim::uhid::report_payload;

std::vector<std::uint8_t> written(std::size_t length, std::uint8_t number) {
    std::vector<std::uint8_t> bytes(length);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    bytes[0] = number;
    return bytes;
}

TEST(ReportFraming, ModelSeesWhatTheHostWrote) {
    for (const std::uint8_t number : {std::uint8_t{0x00}, std::uint8_t{0x41}}) {
        const auto host = written(65, number);
        const auto request = model_request(number, report_payload(host));
        EXPECT_TRUE(std::equal(request.begin(), request.end(), host.begin())) << int{number};
    }
}

TEST(ReportFraming, ShortReportIsZeroFilledAndLongOneCutAt65Bytes) {
    const auto short_one = written(2, 0x00);
    sim::request_bytes expected{};
    expected[1] = 1;
    EXPECT_EQ(model_request(0x00, report_payload(short_one)), expected);

    const auto long_one = written(80, 0x00);
    const auto request = model_request(0x00, report_payload(long_one));
    EXPECT_TRUE(std::equal(request.begin(), request.end(), long_one.begin()));
}

TEST(ReportFraming, ReportWithoutItsNumberByteIsFramedWithTheNumberGiven) {
    const std::vector<std::uint8_t> payload{'*', 1, 2};
    const auto request = model_request(0x00, payload);
    EXPECT_EQ(request[0], 0x00);
    EXPECT_EQ(request[1], '*');
    EXPECT_EQ(request[3], 2);
    EXPECT_EQ(report_payload({}).size(), 0u);
}

}  // namespace
