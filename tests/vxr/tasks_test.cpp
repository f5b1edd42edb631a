// The -u task's progress lines and the wait for the application after a load, in process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "app/tasks.h"
#include "app/vxr_progress.h"
#include "sim/bridge_flash.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/cli_run.h"
#include "tests/vxr/bridge_support.h"

namespace {

using namespace bridge_test;

TEST(UpdateTaskProgress, PrintsOnlyAfterMoreThanTwoAndAHalfPercent) {
    std::ostringstream out;
    ostrel::run_context run(out, out, false);
    ostrel::vxr_progress_printer printer(run, 0);
    for (const double f : {0.025, 0.0250001, 0.05, 0.5, 0.974, 1.0}) {
        printer(f);
    }
    EXPECT_EQ(out.str(),
              "VXR firmware progress: 2.500%\nVXR firmware progress: 50.000%\n"
              "VXR firmware progress: 97.400%\nVXR firmware progress: 100.000%\n");
}

// After a load the run waits for the application to come back, but not for ever: it gives
// up once more than 15 s have passed, after a last attempt no earlier, and the load's
// success does not make the run's. The wait after a mode switch is the same (device_link's
// wait_for_device), its bounds pinned here.
TEST(FirmwareTask, GivesUpWaitingForTheApplicationAfterMoreThan15Seconds) {
    const ostrel::testing::temp_dir dir;
    const std::string hex = dir.file("app.hex");
    ostrel::testing::write_file(hex, ostrel::testing::hex_file(0x404000, bytes(1024, 7)));
    auto& dev = sim::inprocess_device::reset({.mode = sim::usb_mode::bootloader});
    dev.arm("noreturn");
    const auto result = ostrel::testing::run_cli({"-f", hex});
    EXPECT_EQ(result.out, "Loading firmware file: " + hex +
                              "\nFirmware progress: 0%\nFirmware progress: 50%\n"
                              "Firmware load complete!\n");
    EXPECT_EQ(result.err,
              "The application did not start after the load.\nThe Ostrel left USB to restart as "
              "its application (USB id 1209:0101) and did "
              "not come back within 15 s: unplug it, plug it back in and try again.\n");
    EXPECT_EQ(result.status, 1);
    const std::int64_t restart = dev.requests.back().time_ns;  // the 'B' that starts it
    EXPECT_GT(dev.now_ns() - restart, 15'000'000'000);
    EXPECT_LE(dev.now_ns() - restart, 15'251'000'000);
    EXPECT_GE(dev.opens.back().time_ns - restart, 15'000'000'000);  // the last attempt
}

}  // namespace
