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

// -x goes on only with the confirmation word (a longer word will do), then ends the run;
// without it, it is silent and touches nothing (no usage line either: -x is an action).
TEST(EraseTask, ConfirmedEraseGoesBlockByBlockAndEveryFailureEndsWithStatus1) {
    using strings = std::vector<std::string>;
    const std::string del = "Deleting VXR7200 firmware\n";
    const std::string done = del + "Complete\n";
    const strings all = {"D 0x00000+0x10000 x8"}, x = {"-x", "KQWIPEZON"};
    const std::string failed_3 = del +
                                 "Failed to delete Flash block 3\nThe bridge's flash is "
                                 "partly erased: run the same -x again, or -u FILE to "
                                 "write an image.\n";
    const std::string no_version = done + "could not read VXR7200 firmware version\n";
    const std::tuple<std::string, strings, std::string, int, strings> rows[] = {
        {"", {"-x", "KQWIPEZON", "-u", "x"}, done, 0, all},
        {"", {"-x", "KQWIPEZONX"}, done, 0, all},
        {"", {"-x", "kqwipezon"}, "", 0, {}},
        {"", {"-x", "KQWIPEZO"}, "", 0, {}},
        {"", {"-x"}, "", 0, {}},
        {"", {"-x", "KQWIPEZO", "-u"}, "no filename given with -u option\n", 1, {}},
        {"refuse:app/D@4", x, failed_3, 1, {"D 0x00000+0x10000 x4"}},
        {"refuse:app/N", {"-r", "-x", "KQWIPEZON"}, no_version, 1, {"N", all[0]}},
        {"absent",
         x,
         del + "Could not connect to Ostrel\n" + ostrel::testing::no_device_advice,
         1,
         {}},
    };
    for (const auto& [rule, args, out, status, sent] : rows) {
        SCOPED_TRACE(args.back());
        auto& dev = sim::inprocess_device::reset();
        if (rule == "absent") {
            sim::replug(dev.state(), sim::usb_mode::absent);
        } else if (!rule.empty()) {
            dev.arm(rule);
        }
        const auto result = run_cli(args);
        EXPECT_EQ(result.out + result.err, out);
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(requests(dev), sent);
        EXPECT_TRUE(!out.empty() || dev.opens.empty());
    }
}

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

TEST_F(UpdateTask, EveryFailureEndsWithStatus1AndNothingIsReportedUpToDate) {
    const std::string missing = dir.file("missing.fullrom");
    const std::string huge = write_image(dir, "huge.fullrom", image(16 * 1024 * 1024 + 1, 0x00));
    const std::string failed = "VXR firmware update failed.\n";
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"-u"}, "no filename given with -u option\n"},
        {{"-u", missing},
         "Loading VXR firmware file: " + missing + "\nCould not open file\n" + failed + missing +
             ": No such file or directory. Nothing was sent to the Ostrel.\n"},
        {{"-u", huge},
         "Loading VXR firmware file: " + huge + "\nFullrom file too long: more than " +
             "16777216 bytes found, 524288 bytes needed\n" + failed},
        {{"-u", path},
         header + "Could not connect to Ostrel\n" + ostrel::testing::no_device_advice},
    };
    for (const auto& [args, out] : rows) {
        SCOPED_TRACE(out);
        sim::device_options options;
        options.mode = args.back() == path ? sim::usb_mode::absent : sim::usb_mode::application;
        auto& dev = sim::inprocess_device::reset(options);
        const auto result = run_cli(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out + result.err, out);
        EXPECT_EQ(dev.opens.empty(), args.back() != path);  // a bad file touches nothing
    }
    device_holding(sim::make_fullrom_image(32, "VXR OLD"), 0x05).arm("refuse:app/A@2000");
    const auto refused = run_cli({"-u", path});
    EXPECT_EQ(refused.err, failed +
                               "The update stopped: the bridge still starts from its old banks. "
                               "Run the same -u again to finish the update.\n");
    device_holding(fresh, 0x05).arm("refuse:app/N");
    const auto after_failed_query = run_cli({"-r", "-u", path});
    EXPECT_THAT(after_failed_query.out, EndsWith("No update to VXR firmware needed\n"));
    EXPECT_EQ(refused.status + after_failed_query.status, 2);
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
