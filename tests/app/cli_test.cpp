#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/inprocess_device.h"
#include "tests/support/cli_run.h"
#include "tests/vxr/bridge_support.h"

namespace {

using ostrel::testing::padded;
using ostrel::testing::run_cli;
using sim::inprocess_device;
using sim::usb_mode;

const std::string usage =
    "Usage: ostrel_firmware_update.exe [-h] [-v] [-r] [-b] [-f filename.hex] [-u "
    "filename.fullrom]\n";

// Nothing, or -h anywhere: status 0. An argument that is not an option nor an option's
// value, or an option given twice over, is named, and the run ends with status 1 (a
// misspelt -f must not pass for a load). No device is opened.
TEST(Cli, UsageHelpOrRefusedArgumentsWithoutTouchingTheDevice) {
    struct row {
        std::vector<std::string> args;
        std::string head;
        int status;
        std::string err;
    };
    const row rows[] = {
        {{}, usage, 0, ""},
        {{"-v", "-b", "-f", "x.hex", "-h", "-F"}, "ostrel_firmware_update\n" + usage, 0, ""},
        {{"--help"}, "ostrel_firmware_update\n" + usage, 0, ""},
        {{"-F", "app.hex", "-vr", "--verbose", "-f", "-v"},
         usage,
         1,
         "unknown option -F\nunexpected argument app.hex: only -x, -f, -u and -d take a "
         "value\nunknown option -vr\nunknown option --verbose\n"},
        {{"-u", "a.fullrom", "-v", "-u", "b.fullrom"},
         usage,
         1,
         "-u is given twice with different values (a.fullrom, b.fullrom): give it once\n"},
    };
    for (const auto& [args, head, status, err] : rows) {
        auto& dev = inprocess_device::reset();
        const auto result = run_cli(args);
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.out.substr(0, head.size()), head);
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), head == usage ? 1 : 21);
        EXPECT_EQ(result.err, err);
        EXPECT_TRUE(dev.opens.empty());
    }
}

// --version: the program's version from the build and the hidapi in use; nothing opened.
TEST(Cli, VersionOfTheProgramAndItsHidapi) {
    auto& dev = inprocess_device::reset();
    const auto result = run_cli({"--version", "-v"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out,
                ::testing::MatchesRegex(
                    "ostrel_firmware_update [0-9]+\\.[0-9]+\\.[0-9]+\nhidapi [^\n]+\n"));
    EXPECT_TRUE(dev.opens.empty());
}

TEST(Cli, VersionTasksRunInFixedOrderWhateverTheArgumentOrder) {
    auto& dev = inprocess_device::reset(
        {.app_version = "A1", .bootloader_version = "B1", .bridge_version = "R1"});
    const auto result = run_cli({"-b", "-r", "-v"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "application version: " + padded("A1", 64) + "\n" +
                              "VXR7200 firmware version: " + padded("R1", 64) + "\n" +
                              "bootloader version: " + padded("B1", 65) + "\n");
    EXPECT_EQ(bridge_test::requests(dev), (std::vector<std::string>{"*", "N", "B", "*"}));
    // Bytes 2 on of the 'N' request are what the '*' reply left: the version text from its
    // second character on.
    EXPECT_EQ(dev.requests[1].bytes[2], '1');
    EXPECT_EQ(dev.state().mode, usb_mode::bootloader);  // -b leaves it there
}

}  // namespace
