// The chaos mode of the virtual device: its rule, its replay from the seed, its blind-spot
// record and the short reports it makes the stand-in deliver.
#include <gtest/gtest.h>

#include <hidapi.h>

#include <cstring>
#include <vector>

#include "sim/chaos.h"
#include "sim/inprocess_device.h"

namespace {

using sim::chaos_act;
using sim::usb_mode;

TEST(ChaosRule, TakesTheSeedAsItsValueAndReadsBack) {
    std::string error;
    const auto rule = sim::parse_fault_rule("chaos=4000000000", error);
    ASSERT_TRUE(rule) << error;
    EXPECT_EQ(rule->kind, sim::fault_kind::chaos);
    EXPECT_EQ(rule->value, 4000000000u);
    for (const char* text : {"chaos=0", "chaos:boot/P=7", "chaos:app/A=12"}) {
        const auto parsed = sim::parse_fault_rule(text, error);
        ASSERT_TRUE(parsed) << text << ": " << error;
        EXPECT_EQ(sim::format_fault_rule(*parsed), text);
    }
    EXPECT_FALSE(sim::parse_fault_rule("chaos", error));
}

sim::request_bytes request(std::uint8_t command) {
    sim::request_bytes r{};
    r[1] = command;
    return r;
}

// Sends `count` requests of every kind of the application in turn, one a millisecond,
// and returns every report the device queued, byte 0 to 63 and the length, in order.
std::vector<std::uint8_t> transcript(sim::device_state& state, std::int64_t& now, int count) {
    std::vector<std::uint8_t> out;
    const std::uint8_t commands[] = {'T', 'K', 'A', 'D', 'N', '*'};
    for (int i = 0; i < count; ++i) {
        if (state.mode == usb_mode::absent) {
            sim::replug(state, usb_mode::application);
        }
        sim::request_record record;
        const sim::request_bytes r = request(commands[i % 6]);
        sim::receive(state, now, sim::channel::feature, r, record);
        now += 1'000'000;
        sim::settle(state, now);
        while (const auto report = sim::take_input_report(state, now)) {
            out.insert(out.end(), report->bytes.begin(), report->bytes.end());
            out.push_back(static_cast<std::uint8_t>(report->length));
        }
    }
    return out;
}

struct chaos_device {
    std::unique_ptr<sim::device_state> state = std::make_unique<sim::device_state>();
    std::int64_t now = 1'000'000'000;
    explicit chaos_device(std::uint32_t seed) {
        sim::init_state(*state, {});
        std::string error;
        sim::arm_fault(*state, *sim::parse_fault_rule("chaos=" + std::to_string(seed), error));
    }
};

TEST(ChaosMode, ReplaysFromTheSeedAndTheStateAlone) {
    chaos_device a(11), b(11), other(12);
    EXPECT_EQ(transcript(*a.state, a.now, 3000), transcript(*b.state, b.now, 3000));
    chaos_device c(11);
    EXPECT_NE(transcript(*c.state, c.now, 3000), transcript(*other.state, other.now, 3000));

    // A copy of the state taken midway goes on exactly as the original: nothing of the
    // chaos mode lives outside the plain data.
    chaos_device d(13);
    transcript(*d.state, d.now, 1000);
    auto copy = std::make_unique<sim::device_state>();
    std::memcpy(copy.get(), d.state.get(), sizeof(sim::device_state));
    std::int64_t copy_now = d.now;
    EXPECT_EQ(transcript(*d.state, d.now, 2000), transcript(*copy, copy_now, 2000));
}

TEST(ChaosMode, ShowsEveryBehaviourAndMostlyAnswersNormally) {
    std::uint64_t acts[16] = {};
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
        chaos_device dev(seed);
        transcript(*dev.state, dev.now, 2000);
        for (std::size_t i = 0; i < 16; ++i) {
            acts[i] += dev.state->chaos.acts[i];
        }
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(chaos_act::count); ++i) {
        EXPECT_GT(acts[i], 0u) << sim::chaos_act_name(static_cast<chaos_act>(i));
    }
    EXPECT_GT(acts[0], 12u * 2000 / 2);
}

struct blind_case {
    usb_mode mode;
    std::uint8_t command;
    chaos_act act;
    bool apply;
    bool blind;
};

TEST(ChaosMode, RecordsAcceptancesTheHostCannotTellFromRealOnes) {
    const blind_case cases[] = {
        {usb_mode::bootloader, 'P', chaos_act::ack_only, false, true},
        {usb_mode::bootloader, 'P', chaos_act::refuse, false, false},
        {usb_mode::bootloader, 'D', chaos_act::silence, false, true},  // silence passes a chunk
        {usb_mode::bootloader, 'D', chaos_act::silence, true, false},
        {usb_mode::bootloader, 'D', chaos_act::late, true, true},        // may answer the 'P'
        {usb_mode::bootloader, 'e', chaos_act::flood, true, false},      // floods never accept
        {usb_mode::application, 'A', chaos_act::silence, false, false},  // the host times out
        {usb_mode::application, 'A', chaos_act::ack_only, false, true},
        {usb_mode::application, 'D', chaos_act::short_reply, true, false},
        {usb_mode::application, 'A', chaos_act::late, true, true},
        {usb_mode::application, 'T', chaos_act::late, true, true},  // may answer a later 'T'
        {usb_mode::application, 'K', chaos_act::late, true, false},
    };
    for (const blind_case& c : cases) {
        SCOPED_TRACE(std::string(sim::chaos_act_name(c.act)) + " " + char(c.command));
        sim::device_state& state = sim::inprocess_device::reset({.mode = c.mode}).state();
        const sim::chaos_turn turn{c.act, c.apply, false, 99};
        sim::command_outcome outcome;
        outcome.replies = true;
        const bool query = c.command == 'T' || c.command == 'K';
        outcome.reply[0] = c.mode == usb_mode::bootloader ? std::uint8_t{0x00}
                           : query                        ? c.command
                                                          : std::uint8_t{'$'};
        sim::chaos_finish(state, 0, c.mode, request(c.command), turn, outcome);
        EXPECT_EQ(state.chaos.blind_spots, c.blind ? 1u : 0u);
    }
}

TEST(ChaosMode, ShortReportLeavesTheRestOfTheReadBuffer) {
    auto& dev = sim::inprocess_device::reset();
    hid_device* handle = hid_open(OSTREL_VENDOR_ID, sim::app_product_id, nullptr);
    ASSERT_NE(handle, nullptr);
    sim::reply_bytes report{};
    report[0] = 'K';
    report[1] = 4;
    report[2] = 0x77;
    sim::queue_report(dev.state(), dev.now_ns(), report, 2);
    unsigned char buffer[65];
    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(hid_read_timeout(handle, buffer, sizeof buffer, 10), 2);
    EXPECT_EQ(buffer[1], 4);
    EXPECT_EQ(buffer[2], 0xAA);
    hid_close(handle);
}

TEST(ChaosMode, StormEndsWhenTheModeIsDisarmed) {
    auto& dev = sim::inprocess_device::reset();
    sim::device_state& state = dev.state();
    dev.arm("chaos=1");
    state.chaos.storm_next_ns = dev.now_ns();
    state.chaos.storm_until_ns = dev.now_ns() + 10'000'000;
    sim::settle(state, dev.now_ns() + 20'000'000);
    EXPECT_EQ(state.queue_count, 11u);  // one a millisecond, both ends included
    sim::clear_reports(state);
    state.chaos.storm_until_ns = dev.now_ns() + 100'000'000;
    sim::end_chaos(state);
    sim::settle(state, dev.now_ns() + 50'000'000);
    EXPECT_EQ(state.queue_count, 0u);
    EXPECT_EQ(state.fault_count, 0u);
    EXPECT_EQ(sim::next_event_ns(state), std::numeric_limits<std::int64_t>::max());
}

}  // namespace
