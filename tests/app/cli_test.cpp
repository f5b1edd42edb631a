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

// Nothing, unknown forms (ignored) and -h anywhere: status 0, no device opened.
TEST(Cli, UsageOrHelpWithoutTouchingTheDevice) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{}, usage},
        {{"-V", "--help", "-vr", "-h2", "v"}, usage},
        {{"-v", "-b", "-f", "x.hex", "-h"}, "ostrel_firmware_update\n" + usage},
    };
    for (const auto& [args, head] : rows) {
        auto& dev = inprocess_device::reset();
        const auto result = run_cli(args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.substr(0, head.size()), head);
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), head == usage ? 1 : 16);
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(dev.opens.empty());
    }
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
