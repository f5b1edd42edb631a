// The chaos mode armed from the command line of ostrel_sim, as a test station does, with
// the shipped program against the device in its state file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/mcu/hex_writer.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ostrel::testing;
using ostrel::testing::sim;  // the command, not the namespace
using ::testing::HasSubstr;

TEST(ChaosBlackbox, ArmedFromTheCommandLineItDecidesEveryRequestAndTheProgramEnds) {
    temp_dir dir;
    ASSERT_EQ(sim({"init", dir.path(), "--reenumeration-ms", "20"}).status, 0);
    // Only the bootloader's 'P' is touched, so that no wait of many seconds comes up.
    ASSERT_EQ(sim({"fault", dir.path(), "chaos:boot/P=3"}).status, 0);
    EXPECT_THAT(sim({"fault", dir.path(), "list"}).out, HasSubstr("chaos:boot/P=3"));
    const std::string path = dir.file("firmware.hex");
    write_file(path, hex_file(0x404000, random_bytes(1000, 5)));

    const auto result = run_program(dir.path(), {"-f", path}, 60);
    EXPECT_FALSE(result.timed_out);
    EXPECT_TRUE(result.status == 0 || result.status == 1) << result.status;
    EXPECT_THAT(sim({"show", dir.path()}).out, HasSubstr("\"chaos\": {\"turns\": 2,"));
}

}  // namespace
