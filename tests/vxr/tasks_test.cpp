// The -x and -u tasks through the program's command line, in-process.
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
using ::testing::EndsWith;

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

class UpdateTask : public ::testing::Test {
  protected:
    ostrel::testing::temp_dir dir;
    const image fresh = sim::make_fullrom_image(31, "VXR NEW");
    const std::string path = write_image(dir, "new.fullrom", fresh);
    const std::string header =
        "Loading VXR firmware file: " + path + "\nlength of file: 524288 bytes\n";
};

TEST_F(UpdateTask, EveryCombinationOfRegionsPrints39ProgressLines) {
    const char* const names[] = {"config", "fw", "esm"};
    const std::uint32_t places[] = {0x00100, 0x10000, 0x60000};
    for (int regions = 1; regions < 8; ++regions) {
        SCOPED_TRACE(regions);
        auto& dev = device_holding(fresh, 0x05);
        std::string out = header;
        for (int i = 0; i < 3; ++i) {
            if (regions >> i & 1) {
                dev.state().bridge_flash[places[i]] ^= 0x01;
                out += std::string("Need to update ") + names[i] + "\n";
            }
        }
        const auto result = run_cli({"-u", path});
        EXPECT_EQ(result.status + result.err.size(), 0u);
        const std::string line = "VXR firmware progress: ";
        const std::string first = regions == 1   ? "2.539%\n" + line + "5.078%"
                                  : regions == 7 ? "2.507%\n" + line + "5.013%"
                                                 : "";
        const std::string last = regions == 1 ? "99.023" : regions == 7 ? "97.754" : "";
        EXPECT_TRUE(result.out.starts_with(out + line += first));
        EXPECT_THAT(result.out, EndsWith(last + "%\nVXR firmware update complete!\n"));
        EXPECT_EQ(std::ranges::count(result.out, '%'), 39);  // one per progress line
    }
    EXPECT_EQ(run_cli({"-u", path}).out, header + "No update to VXR firmware needed\n");
}

// After -f, -u waits for the application to come back (see the black-box test), but not
// for ever: as after a mode switch, it gives up once more than 15 s have passed.
TEST_F(UpdateTask, AfterARestartGivesUpWaitingAfterMoreThan15Seconds) {
    auto& dev = sim::inprocess_device::reset();
    sim::replug(dev.state(), sim::usb_mode::absent);
    std::ostringstream out;
    ostrel::run_context run(out, out, false);
    run.application_restarting = true;
    ostrel::update_task(run, {true, path});
    EXPECT_EQ(out.str(), header +
                             "Could not connect to Ostrel\nThe Ostrel left USB to restart as its "
                             "application (USB id 1209:0101) and did not come back within 15 s: "
                             "unplug it, plug it back in and try again.\n");
    EXPECT_GT(dev.now_ns(), 16'000'000'000);  // the clock starts at 1 s
    EXPECT_LE(dev.now_ns(), 16'251'000'000);
}

}  // namespace
