#include <gtest/gtest.h>

#include "sim/model.h"

namespace {

using sim::fault_kind;
using sim::usb_mode;

sim::fault_rule parse(const std::string& text) {
    std::string error;
    const auto rule = sim::parse_fault_rule(text, error);
    EXPECT_TRUE(rule) << text << ": " << error;
    return rule.value_or(sim::fault_rule{});
}

TEST(FaultRules, ParsesEveryPart) {
    const auto rule = parse("refuse:boot/P@10");
    EXPECT_EQ(rule.kind, fault_kind::refuse);
    EXPECT_EQ(rule.mode, usb_mode::bootloader);
    EXPECT_EQ(rule.command, 'P');
    EXPECT_EQ(rule.nth, 10u);

    const auto delay = parse("delay:application/0x2A@2=300");
    EXPECT_EQ(delay.mode, usb_mode::application);
    EXPECT_EQ(delay.command, '*');
    EXPECT_EQ(delay.nth, 2u);
    EXPECT_EQ(delay.value, 300u);

    const auto any = parse("noreply");
    EXPECT_EQ(any.command, 0);
    EXPECT_EQ(any.mode, usb_mode::absent);
    EXPECT_EQ(parse("unplug=0x10").value, 16u);
    EXPECT_EQ(parse("noreply:@").command, '@');  // a single character is taken as it is
}

TEST(FaultRules, FormatReadsBackAsTheSameRule) {
    for (const char* text : {"refuse:boot/P@10", "noreply:boot/0x22", "stray=3", "stream",
                             "delay:app/T=250", "acknowrite:app/A@7", "unplug=120",
                             "badstatus:boot/D@4", "noreturn", "denied", "noreply:0x40"}) {
        const auto rule = parse(text);
        EXPECT_EQ(sim::format_fault_rule(rule), text);
    }
}

TEST(FaultRules, RejectsMalformedRules) {
    for (const char* text : {"", "explode", "refuse:", "refuse:app/P@", "refuse:P@0", "stray",
                             "unplug=abc", "refuse:Px", "delay:T=-1", "kill=0", "kill=65"}) {
        std::string error;
        EXPECT_FALSE(sim::parse_fault_rule(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

}  // namespace
