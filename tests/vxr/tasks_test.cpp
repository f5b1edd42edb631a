// The -u task's progress lines and its wait for a restarting application, in process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "app/tasks.h"
#include "app/vxr_progress.h"
#include "sim/bridge_flash.h"
#include "tests/vxr/bridge_support.h"

namespace {

using namespace bridge_test;

TEST(UpdateTaskProgress, PrintsOnlyAfterMoreThanTwoAndAHalfPercent) {
    std::ostringstream out;
    ostrel::run_context run(out, out, false);
    ostrel::vxr_progress_printer printer(run);
    for (const double f : {0.025, 0.0250001, 0.05, 0.5, 0.974, 1.0}) {
        printer(f);
    }
    EXPECT_EQ(out.str(),
              "VXR firmware progress: 2.500%\nVXR firmware progress: 50.000%\n"
              "VXR firmware progress: 97.400%\nVXR firmware progress: 100.000%\n");
}

// After -f, -u waits for the application to come back (see the black-box test), but not
// for ever: it gives up once more than 15 s have passed, after a last attempt no earlier. The
// wait after a mode switch is the same (device_link's wait_for_device), its bounds pinned here.
TEST(UpdateTask, AfterARestartGivesUpWaitingAfterMoreThan15Seconds) {
    const ostrel::testing::temp_dir dir;
    const std::string path =
        write_image(dir, "new.fullrom", sim::make_fullrom_image(31, "VXR NEW"));
    auto& dev = sim::inprocess_device::reset();
    sim::replug(dev.state(), sim::usb_mode::absent);
    std::ostringstream out;
    ostrel::run_context run(out, out, false);
    run.application_restarting = true;
    ostrel::update_task(run, {true, path});
    EXPECT_EQ(out.str(), "Loading VXR firmware file: " + path +
                             "\nlength of file: 524288 bytes\n"
                             "Could not connect to Ostrel\nThe Ostrel left USB to restart as its "
                             "application (USB id 1209:0101) and did not come back within 15 s: "
                             "unplug it, plug it back in and try again.\n");
    EXPECT_GT(dev.now_ns(), 16'000'000'000);  // the clock starts at 1 s
    EXPECT_LE(dev.now_ns(), 16'251'000'000);
    EXPECT_GE(dev.opens.back().time_ns, 16'000'000'000);  // the last attempt not before
}

}  // namespace
