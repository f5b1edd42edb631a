// The -x and -u tasks through the program's command line, in-process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "app/tasks.h"
#include "app/vxr_progress.h"
#include "sim/bridge_flash.h"
#include "tests/vxr/bridge_support.h"

namespace {

using namespace bridge_test;
using ::testing::ElementsAreArray;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::vector<std::string> progress_lines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("VXR firmware progress: ")) {
            lines.push_back(line.substr(23));
        }
    }
    return lines;
}

TEST(EraseTask, ConfirmedEraseGoesBlockByBlockAndEndsTheRun) {
    for (const std::string word : {"KQWIPEZON", "KQWIPEZONX"}) {
        auto& dev = device_holding(sim::make_fullrom_image(3, "V"), 0x0F);
        const auto result = run_cli({"-x", word, "-u", "never.fullrom"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "Deleting VXR7200 firmware\nComplete\n");
        EXPECT_EQ(result.err, "");
        EXPECT_THAT(requests(dev),
                    ElementsAreArray({"D 0x00000+0x10000", "D 0x10000+0x10000", "D 0x20000+0x10000",
                                      "D 0x30000+0x10000", "D 0x40000+0x10000", "D 0x50000+0x10000",
                                      "D 0x60000+0x10000", "D 0x70000+0x10000"}));
        EXPECT_EQ(std::count(dev.state().bridge_flash, dev.state().bridge_flash + 0x80000, 0xFF),
                  0x80000);
    }
}

TEST(EraseTask, WrongOrMissingWordErasesNothingSilently) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-x", "kqwipezon"}, {"-x", "KQWIPEZO"}, {"-x"}, {"-x", ""}}) {
        auto& dev = sim::inprocess_device::reset();
        const auto result = run_cli(args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out + result.err, "");  // -x is an action: no usage line either
        EXPECT_TRUE(dev.opens.empty());
    }
    EXPECT_EQ(run_cli({"-x", "KQWIPEZO", "-u"}).err, "no filename given with -u option\n");
}

TEST(EraseTask, FailuresEndTheRunWithStatus1) {
    auto& dev = sim::inprocess_device::reset();
    dev.arm("refuse:app/D@4");
    const auto refused = run_cli({"-x", "KQWIPEZON"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "Deleting VXR7200 firmware\n");
    EXPECT_EQ(refused.err, "Failed to delete Flash block 3\n");
    EXPECT_EQ(dev.requests.size(), 4u);

    dev.arm("refuse:app/N");
    const auto after_failed_query = run_cli({"-r", "-x", "KQWIPEZON"});
    EXPECT_THAT(after_failed_query.out, EndsWith("Complete\n"));
    EXPECT_EQ(after_failed_query.status, 1);

    sim::replug(dev.state(), sim::usb_mode::absent);
    const auto absent = run_cli({"-x", "KQWIPEZON"});
    EXPECT_EQ(absent.err, "Could not connect to Ostrel\n");
    EXPECT_EQ(absent.status, 1);
}

TEST(ProgressPrinter, PrintsOnlyAfterMoreThanTwoAndAHalfPercent) {
    std::ostringstream out;
    std::ostringstream err;
    ostrel::run_context run(out, err);
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
    for (int regions = 1; regions < 8; ++regions) {
        SCOPED_TRACE(regions);
        auto& dev = device_holding(fresh, 0x05);
        std::string needs;
        for (const auto& [bit, at, name] :
             {std::tuple{1, 0x00100, "config"}, std::tuple{2, 0x10000, "fw"},
              std::tuple{4, 0x60000, "esm"}}) {
            if (regions & bit) {
                dev.state().bridge_flash[at] ^= 0x01;
                needs += std::string("Need to update ") + name + "\n";
            }
        }
        const auto result = run_cli({"-u", path});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_THAT(result.out, StartsWith(header + needs + "VXR firmware progress: "));
        EXPECT_THAT(result.out, EndsWith("%\nVXR firmware update complete!\n"));
        const auto lines = progress_lines(result.out);
        ASSERT_EQ(lines.size(), 39u);
        if (regions == 1) {
            EXPECT_EQ(lines[0], "2.539%");
            EXPECT_EQ(lines[1], "5.078%");
            EXPECT_EQ(lines[38], "99.023%");
        }
        if (regions == 7) {
            EXPECT_EQ(lines[0], "2.507%");
            EXPECT_EQ(lines[38], "97.754%");
        }
    }
    EXPECT_EQ(run_cli({"-u", path}).out, header + "No update to VXR firmware needed\n");
}

TEST_F(UpdateTask, EveryFailureEndsWithStatus1AndNothingIsReportedUpToDate) {
    const std::string missing = dir.file("missing.fullrom");
    const std::string short_path = write_image(dir, "short.fullrom", image(1000, 0x00));
    const std::string huge = write_image(dir, "huge.fullrom", image(16 * 1024 * 1024 + 1, 0x00));
    struct row {
        std::vector<std::string> args;
        std::string out;
        std::string err;
        bool touches_device;
    };
    const row rows[] = {
        {{"-u"}, "", "no filename given with -u option\n", false},
        {{"-u", missing},
         "Loading VXR firmware file: " + missing + "\nCould not open file\n",
         "VXR firmware update failed.\n",
         false},
        {{"-u", short_path},
         "Loading VXR firmware file: " + short_path + "\nlength of file: 1000 bytes\n",
         "Fullrom file too short: 1000 bytes found, 524288 bytes needed\n"
         "VXR firmware update failed.\n",
         false},
        {{"-u", huge},
         "Loading VXR firmware file: " + huge + "\n",
         "Fullrom file too long: more than 16777216 bytes found, 524288 bytes needed\n"
         "VXR firmware update failed.\n",
         false},
        {{"-u", path}, header, "Could not connect to Ostrel\n", true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.err);
        sim::device_options options;
        options.mode = r.touches_device ? sim::usb_mode::absent : sim::usb_mode::application;
        auto& dev = sim::inprocess_device::reset(options);
        const auto result = run_cli(r.args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, r.out);
        EXPECT_EQ(result.err, r.err);
        EXPECT_EQ(dev.opens.empty(), !r.touches_device);
    }

    auto& dev = device_holding(sim::make_fullrom_image(32, "VXR OLD"), 0x05);
    dev.arm("refuse:app/A@2000");
    const auto failed = run_cli({"-u", path});
    EXPECT_EQ(failed.err, "VXR firmware update failed.\n");
    EXPECT_EQ(failed.status, 1);

    device_holding(fresh, 0x05).arm("refuse:app/N");
    const auto after_failed_query = run_cli({"-r", "-u", path});
    EXPECT_THAT(after_failed_query.out, EndsWith("No update to VXR firmware needed\n"));
    EXPECT_EQ(after_failed_query.status, 1);
}

// After -f the application is on its way back: -u waits for it as a mode switch does.
class AfterRestart : public UpdateTask {
  protected:
    std::string run_update() {
        std::ostringstream out;
        std::ostringstream err;
        ostrel::run_context run(out, err);
        run.application_restarting = true;
        ostrel::update_task(run, {true, path});
        return out.str() + err.str();
    }
};

TEST_F(AfterRestart, WaitsForTheApplicationToComeBack) {
    auto& dev = device_holding(sim::make_fullrom_image(32, "VXR OLD"), 0x05);
    dev.state().mode = sim::usb_mode::absent;
    dev.state().return_mode = sim::usb_mode::application;
    dev.state().return_at_ns = dev.now_ns() + 3'100'000'000;
    const std::int64_t start = dev.now_ns();
    EXPECT_THAT(run_update(), EndsWith("VXR firmware update complete!\n"));
    ASSERT_EQ(dev.opens.size(), 14u);  // at once, then every 250 ms up to 3250 ms
    EXPECT_LT(dev.opens[0].time_ns - start, 1'000'000);
    EXPECT_NEAR(double(dev.opens[13].time_ns - dev.opens[0].time_ns), 3250e6, 1e6);
    EXPECT_TRUE(dev.opens.back().opened);
}

TEST_F(AfterRestart, GivesUpAfterMoreThan15Seconds) {
    sim::device_options options;
    options.mode = sim::usb_mode::absent;
    auto& dev = sim::inprocess_device::reset(options);
    const std::int64_t start = dev.now_ns();
    EXPECT_EQ(run_update(), header + "Could not connect to Ostrel\n");
    const std::int64_t waited_ms = (dev.now_ns() - start) / 1'000'000;
    EXPECT_GT(waited_ms, 15000);
    EXPECT_LE(waited_ms, 15000 + 250 + 1);
}

}  // namespace
