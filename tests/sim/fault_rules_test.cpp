// The fault rules of `ostrel_sim fault` and the in-process device: what test stations write.
#include <gtest/gtest.h>

#include "sim/model.h"

namespace {

// A rule reads back as written (so that `ostrel_sim show` lists what was armed), numbers in
// any base and command bytes by value included; a malformed one is refused with a reason.
TEST(FaultRules, EveryRuleReadsBackAndMalformedOnesAreRefused) {
    const std::pair<const char*, const char*> read_back[] = {
        {"refuse:boot/P@10", "refuse:boot/P@10"},
        {"noreply:boot/0x22", "noreply:boot/0x22"},
        {"stray=3", "stray=3"},
        {"delay:application/0x2A@2=300", "delay:app/*@2=300"},
        {"unplug=0x10", "unplug=16"},
        {"acknowrite:app/A@7", "acknowrite:app/A@7"},
        {"badstatus:boot/D@4", "badstatus:boot/D@4"},
        {"noreply:@", "noreply:0x40"},
        {"noreturn", "noreturn"},
        {"denied", "denied"},
    };
    for (const auto& [text, formatted] : read_back) {
        std::string error;
        const auto rule = sim::parse_fault_rule(text, error);
        ASSERT_TRUE(rule) << text << ": " << error;
        EXPECT_EQ(sim::format_fault_rule(*rule), formatted);
    }
    for (const char* text : {"", "explode", "refuse:", "refuse:app/P@", "refuse:P@0", "stray",
                             "unplug=abc", "refuse:Px", "delay:T=-1", "kill=0", "kill=65"}) {
        std::string error;
        EXPECT_FALSE(sim::parse_fault_rule(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

}  // namespace
