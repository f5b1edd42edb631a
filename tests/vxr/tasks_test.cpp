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
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string usage =
    "Usage: ostrel_firmware_update.exe [-h] [-v] [-r] [-b] [-f filename.hex] [-u "
    "filename.fullrom]\n";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> progress_lines(const std::string& out) {
    std::vector<std::string> lines;
    for (const std::string& line : lines_of(out)) {
        if (line.rfind("VXR firmware progress: ", 0) == 0) {
            lines.push_back(line);
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
        const auto erases = requests(dev);
        ASSERT_EQ(erases.size(), 8u);
        for (std::uint32_t i = 0; i < 8; ++i) {
            EXPECT_EQ(describe(erases[i]), describe({'D', i * 0x10000, 0x10000, 0}));
        }
        EXPECT_TRUE(std::all_of(dev.state().bridge_flash, dev.state().bridge_flash + 0x80000,
                                [](std::uint8_t b) { return b == 0xFF; }));
        EXPECT_EQ(dev.state().bank_status, 0x00);
    }
}

TEST(EraseTask, WrongOrMissingWordErasesNothingSilently) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-x", "kqwipezon"}, {"-x", "KQWIPEZO"}, {"-x"}, {"-x", ""}}) {
        auto& dev = sim::inprocess_device::reset();
        const auto result = run_cli(args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "");  // -x counts as an action: no usage line either
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(dev.opens.empty());
    }
}

TEST(EraseTask, WrongWordLetsTheLaterTasksRun) {
    sim::inprocess_device::reset();
    const auto result = run_cli({"-x", "KQWIPEZO", "-u"});
    EXPECT_EQ(result.err, "no filename given with -u option\n");
    EXPECT_EQ(result.status, 1);
}

TEST(EraseTask, RefusedBlockStopsTheEraseWithItsIndex) {
    auto& dev = sim::inprocess_device::reset();
    dev.arm("refuse:app/D@4");
    const auto result = run_cli({"-x", "KQWIPEZON"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Deleting VXR7200 firmware\n");
    EXPECT_EQ(result.err, "Failed to delete Flash block 3\n");
    EXPECT_EQ(requests(dev).size(), 4u);
}

TEST(EraseTask, NoDevice) {
    sim::device_options options;
    options.mode = sim::usb_mode::absent;
    sim::inprocess_device::reset(options);
    const auto result = run_cli({"-x", "KQWIPEZON"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Deleting VXR7200 firmware\n");
    EXPECT_EQ(result.err, "Could not connect to Ostrel\n");
}

TEST(EraseTask, CompleteAfterAFailedVersionQueryStillEndsWithStatus1) {
    auto& dev = sim::inprocess_device::reset();
    dev.arm("refuse:app/N");
    const auto result = run_cli({"-r", "-x", "KQWIPEZON"});
    EXPECT_THAT(result.out, EndsWith("Complete\n"));
    EXPECT_EQ(result.status, 1);
}

TEST(ProgressPrinter, PrintsOnlyAfterMoreThanTwoAndAHalfPercent) {
    std::ostringstream out;
    std::ostringstream err;
    ostrel::run_context run(out, err);
    ostrel::vxr_progress_printer printer(run);
    printer(0.025);  // not more than 0.025: nothing
    printer(0.0250001);
    printer(0.05);  // 0.0249999 more: nothing
    printer(0.5);
    printer(0.974);
    printer(1.0);  // 0.026 more
    EXPECT_EQ(out.str(),
              "VXR firmware progress: 2.500%\n"
              "VXR firmware progress: 50.000%\n"
              "VXR firmware progress: 97.400%\n"
              "VXR firmware progress: 100.000%\n");
}

class UpdateTask : public ::testing::Test {
  protected:
    ostrel::testing::temp_dir dir;
    const image fresh = sim::make_fullrom_image(31, "VXR NEW");
    const image stale = sim::make_fullrom_image(32, "VXR OLD");
    const std::string path = write_image(dir, "new.fullrom", fresh);
    const std::string header =
        "Loading VXR firmware file: " + path + "\nlength of file: 524288 bytes\n";
};

TEST_F(UpdateTask, EveryCombinationOfRegionsPrints39ProgressLines) {
    for (int regions = 1; regions < 8; ++regions) {
        const bool config = regions & 1;
        const bool fw = regions & 2;
        const bool esm = regions & 4;
        SCOPED_TRACE(regions);
        auto& dev = device_holding(fresh, 0x05);
        if (config) {
            dev.state().bridge_flash[0x00100] ^= 0x01;
        }
        if (fw) {
            dev.state().bridge_flash[0x10000] ^= 0x01;
        }
        if (esm) {
            dev.state().bridge_flash[0x60000] ^= 0x01;
        }
        const auto result = run_cli({"-u", path});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        std::string expected = header;
        expected += config ? "Need to update config\n" : "";
        expected += fw ? "Need to update fw\n" : "";
        expected += esm ? "Need to update esm\n" : "";
        EXPECT_THAT(result.out, StartsWith(expected));
        EXPECT_THAT(result.out, EndsWith("%\nVXR firmware update complete!\n"));
        const auto lines = progress_lines(result.out);
        EXPECT_EQ(lines.size(), 39u);
        EXPECT_EQ(lines_of(result.out).size(), lines_of(expected).size() + 39 + 1);
    }
}

TEST_F(UpdateTask, ConfigOnlyPercentagesStepBy2539) {
    auto& dev = device_holding(fresh, 0x05);
    dev.state().bridge_flash[0x00100] ^= 0x01;
    const auto result = run_cli({"-u", path});
    const auto lines = progress_lines(result.out);
    ASSERT_EQ(lines.size(), 39u);
    EXPECT_EQ(lines[0], "VXR firmware progress: 2.539%");
    EXPECT_EQ(lines[1], "VXR firmware progress: 5.078%");
    EXPECT_EQ(lines[2], "VXR firmware progress: 7.617%");
    EXPECT_EQ(lines[38], "VXR firmware progress: 99.023%");
}

TEST_F(UpdateTask, FullUpdateThenNothingToDo) {
    device_holding(stale, 0x05);
    const auto first = run_cli({"-u", path});
    EXPECT_EQ(first.status, 0);
    const auto lines = progress_lines(first.out);
    ASSERT_EQ(lines.size(), 39u);
    EXPECT_EQ(lines.front(), "VXR firmware progress: 2.507%");
    EXPECT_EQ(lines.back(), "VXR firmware progress: 97.754%");
    const auto second = run_cli({"-u", path});
    EXPECT_EQ(second.out, header + "No update to VXR firmware needed\n");
    EXPECT_EQ(second.status, 0);
}

TEST_F(UpdateTask, UnreadableFileFailsWithoutTouchingTheDevice) {
    auto& dev = sim::inprocess_device::reset();
    const std::string missing = dir.file("missing.fullrom");
    const auto result = run_cli({"-u", missing});
    EXPECT_EQ(result.out, "Loading VXR firmware file: " + missing + "\nCould not open file\n");
    EXPECT_EQ(result.err, "VXR firmware update failed.\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(dev.opens.empty());
}

TEST_F(UpdateTask, ShortFileIsRefusedNamingBothLengths) {
    auto& dev = sim::inprocess_device::reset();
    const std::string short_path = write_image(dir, "short.fullrom", image(1000, 0x00));
    const auto result = run_cli({"-u", short_path});
    EXPECT_EQ(result.out,
              "Loading VXR firmware file: " + short_path + "\nlength of file: 1000 bytes\n");
    EXPECT_EQ(result.err,
              "Fullrom file too short: 1000 bytes found, 524288 bytes needed\n"
              "VXR firmware update failed.\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(dev.opens.empty());
}

TEST_F(UpdateTask, HugeFileIsRefusedWithoutReadingItWhole) {
    auto& dev = sim::inprocess_device::reset();
    const std::string huge = dir.file("huge.fullrom");
    ostrel::testing::write_file(huge, image(16 * 1024 * 1024 + 1, 0x00));
    const auto result = run_cli({"-u", huge});
    EXPECT_EQ(result.out, "Loading VXR firmware file: " + huge + "\n");
    EXPECT_EQ(result.err,
              "Fullrom file too long: more than 16777216 bytes found, 524288 bytes needed\n"
              "VXR firmware update failed.\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(dev.opens.empty());
}

TEST_F(UpdateTask, NoDeviceIsAFailure) {
    sim::device_options options;
    options.mode = sim::usb_mode::absent;
    sim::inprocess_device::reset(options);
    const auto result = run_cli({"-u", path});
    EXPECT_EQ(result.out, header);
    EXPECT_EQ(result.err, "Could not connect to Ostrel\n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(UpdateTask, MissingFileNameIsAFailure) {
    auto& dev = sim::inprocess_device::reset();
    const auto result = run_cli({"-u"});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "no filename given with -u option\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(dev.opens.empty());
}

TEST_F(UpdateTask, FailedUpdateEndsWithStatus1) {
    auto& dev = device_holding(stale, 0x05);
    dev.arm("refuse:app/A@2000");
    const auto result = run_cli({"-u", path});
    EXPECT_THAT(result.out, HasSubstr("Need to update esm\n"));
    EXPECT_EQ(result.err, "VXR firmware update failed.\n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(UpdateTask, NothingNeededEndsTheRunButKeepsAnEarlierFailure) {
    auto& dev = device_holding(fresh, 0x05);
    dev.arm("refuse:app/N");
    const auto result = run_cli({"-r", "-u", path});
    EXPECT_THAT(result.out, EndsWith("No update to VXR firmware needed\n"));
    EXPECT_EQ(result.status, 1);
}

// After -f the application is on its way back: -u waits for it as a mode switch does.
class AfterRestart : public UpdateTask {
  protected:
    ostrel::task_result run_update(std::ostringstream& out, std::ostringstream& err) {
        ostrel::run_context run(out, err);
        run.application_restarting = true;
        return ostrel::update_task(run, {true, path});
    }
};

TEST_F(AfterRestart, WaitsForTheApplicationToComeBack) {
    auto& dev = device_holding(stale, 0x05);
    sim::device_state& state = dev.state();
    state.mode = sim::usb_mode::absent;
    state.return_mode = sim::usb_mode::application;
    state.return_at_ns = dev.now_ns() + 3'100'000'000;
    const std::int64_t start = dev.now_ns();
    std::ostringstream out;
    std::ostringstream err;
    run_update(out, err);
    EXPECT_THAT(out.str(), EndsWith("VXR firmware update complete!\n"));
    EXPECT_EQ(err.str(), "");
    ASSERT_GE(dev.opens.size(), 2u);
    EXPECT_EQ(dev.opens[0].time_ns - start < 1'000'000, true);  // at once, then every 250 ms
    EXPECT_NEAR(static_cast<double>(dev.opens[1].time_ns - dev.opens[0].time_ns), 250e6, 1e5);
    EXPECT_TRUE(dev.opens.back().opened);
    EXPECT_EQ(dev.opens.size(), 14u);  // 0, 250, ..., 3250 ms
}

TEST_F(AfterRestart, GivesUpAfterMoreThan15Seconds) {
    sim::device_options options;
    options.mode = sim::usb_mode::absent;
    auto& dev = sim::inprocess_device::reset(options);
    const std::int64_t start = dev.now_ns();
    std::ostringstream out;
    std::ostringstream err;
    run_update(out, err);
    EXPECT_EQ(err.str(), "Could not connect to Ostrel\n");
    const std::int64_t waited_ms = (dev.now_ns() - start) / 1'000'000;
    EXPECT_GT(waited_ms, 15000);
    EXPECT_LE(waited_ms, 15000 + 250 + 1);
    EXPECT_TRUE(dev.requests.empty());
}

}  // namespace
