#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "sim/inprocess_device.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/cli_run.h"
#include "tests/vxr/bridge_support.h"

namespace {

using namespace ostrel::testing;
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
    // -b switched the device to its bootloader, and the run gives it back.
    EXPECT_EQ(bridge_test::requests(dev), (std::vector<std::string>{"*", "N", "B", "*", "B"}));
    // Bytes 2 on of the 'N' request are what the '*' reply left: the version text from its
    // second character on.
    EXPECT_EQ(dev.requests[1].bytes[2], '1');
    EXPECT_EQ(dev.state().mode, usb_mode::application);
    // Found in its bootloader, the device stays there.
    sim::replug(dev.state(), usb_mode::bootloader);
    EXPECT_EQ(run_cli({"-b"}).status, 0);
    EXPECT_EQ(dev.state().mode, usb_mode::bootloader);
}

// -n reads the device as the run would and says what it would do: every request it sends
// is a query, the device stays in its application and both flashes are unchanged. --force
// writes every region though the sums match.
TEST(Cli, DryRunOnlyAsksAndForceWritesWhatTheSumsCallEqual) {
    const temp_dir dir;
    const auto old_rom = sim::make_fullrom_image(32, "R1");
    const std::string rom = write_image(dir, "new.fullrom", sim::make_fullrom_image(31, "VXR NEW"));
    const std::string hex = dir.file("app.hex");
    write_file(hex, hex_file(0x404000, bytes(0x5000, 7)));
    const std::string switch_line =
        "Dry run: would switch the Ostrel to its bootloader to read its version, then start "
        "its application again";
    const std::pair<std::vector<std::string>, std::vector<std::string>> rows[] = {
        {{"-n", "-v", "-b", "-f", hex, "-u", rom},
         {switch_line,
          "Dry run: would load " + hex +
              " into the microcontroller: 20480 bytes in 40 pages of 512 bytes from 0x404000",
          "Dry run: would erase 16 KiB at 0x404000, the last bytes from 0x408000",
          "Need to update config",
          "Dry run: would write config bank 1 at 0x20000 (32768 bytes), then invalidate bank 0",
          "Dry run: would rewrite the esm region at 0x40000 in place (262144 bytes",
          "Dry run: 393216 bytes to write; nothing was sent that changes the device"}},
        {{"-x", "KQWIPEZON", "--dry-run"},
         {"Dry run: would erase the whole bridge flash: its 8 blocks of 64 KiB"}},
    };
    for (const auto& [args, lines] : rows) {
        auto& dev = device_holding(old_rom, 0x05);
        // Both flashes as they are, to be found unchanged.
        const auto flashes = [&dev] {
            const auto& st = dev.state();
            std::vector<std::uint8_t> both(std::begin(st.bridge_flash), std::end(st.bridge_flash));
            both.insert(both.end(), std::begin(st.mcu_flash), std::end(st.mcu_flash));
            return both;
        };
        const auto before = flashes();
        const auto result = run_cli(args);
        EXPECT_EQ(result.status, 0) << result.err;
        for (const std::string& line : lines) {
            EXPECT_NE(result.out.find(line), std::string::npos) << line;
        }
        for (const sim::request_record& request : dev.requests) {
            EXPECT_NE(std::string("*NTK").find(static_cast<char>(request.bytes[1])),
                      std::string::npos);
        }
        EXPECT_EQ(dev.state().mode, usb_mode::application);
        EXPECT_TRUE(flashes() == before);
    }
    const auto new_rom = sim::make_fullrom_image(31, "VXR NEW");
    auto& dev = device_holding(new_rom, 0x05);
    EXPECT_THAT(run_cli({"-u", rom}).out,
                ::testing::EndsWith("No update to VXR firmware needed\n"));
    const auto forced = run_cli({"-u", rom, "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_THAT(forced.out, ::testing::HasSubstr("Need to update config\nNeed to update fw\n"
                                                 "Need to update esm\n"));
    EXPECT_THAT(forced.out, ::testing::EndsWith("VXR firmware update complete!\n"));
    EXPECT_EQ(dev.state().bank_status, 0x0A);  // both pairs written into their banks 1
}

// --json: standard output is JSON lines alone, standard error stays empty, and the status is
// that of the run without --json. The events come in the run's order between the schema and
// the status; versions without their NUL padding (a byte no text has as U+FFFD). A task's
// progress never goes back nor past the plan's total, comes at most once per 2.5 % of an
// update, and ends at the total when the task succeeds.
TEST(Cli, JsonLinesInTheRunsOrderWithItsStatus) {
    using nlohmann::json;
    const temp_dir dir;
    const auto old_rom = sim::make_fullrom_image(32, "R1");
    const std::string rom = write_image(dir, "new.fullrom", sim::make_fullrom_image(31, "VXR NEW"));
    const std::string hex = dir.file("app.hex");
    write_file(hex, hex_file(0x404000, bytes(2048, 7)));
    const json start = {{"event", "start"}, {"schema", 1}};
    const json load_plan = {
        {"event", "plan"}, {"task", "mcu_load"}, {"file", hex}, {"bytes", 2048}};
    struct row {
        std::vector<std::string> args;
        usb_mode mode;
        std::vector<std::string> faults;  // armed before the run
        std::vector<json> events;         // all but progress, each by some of its members
    };
    const row rows[] = {
        {{"-l", "-v", "-r", "-b"},
         usb_mode::application,
         {},
         {start,
          {{"event", "device"}, {"identity", "application"}, {"serial", nullptr}},
          {{"event", "version"}, {"part", "application"}, {"text", "A1\xEF\xBF\xBD"}},
          {{"event", "version"}, {"part", "bridge"}, {"text", "R1"}},
          {{"event", "version"}, {"part", "bootloader"}, {"text", "B1"}},
          {{"event", "end"}, {"status", 0}}}},
        {{"-f", hex, "-u", rom},
         usb_mode::application,
         {},
         {start,
          load_plan,
          {{"event", "result"}, {"task", "mcu_load"}, {"ok", true}},
          {{"event", "message"}, {"text", "Loading VXR firmware file: " + rom}},
          {{"event", "message"}},
          {{"event", "plan"},
           {"task", "bridge_update"},
           {"regions", {"config", "fw", "esm"}},
           {"bytes", 393216}},
          {{"event", "result"}, {"task", "bridge_update"}, {"ok", true}},
          {{"event", "end"}, {"status", 0}}}},
        {{"-f", hex},
         usb_mode::bootloader,
         {"refuse:boot/P@2"},
         {start,
          load_plan,
          {{"event", "result"}, {"task", "mcu_load"}, {"ok", false}},
          {{"event", "advice"}},
          {{"event", "end"}, {"status", 1}}}},
    };
    for (const auto& [args, mode, faults, expected] : rows) {
        SCOPED_TRACE(args.front());
        const auto run = [&, &mode = mode, &faults = faults](std::vector<std::string> words) {
            device_holding(old_rom, 0x05,
                           {.mode = mode, .app_version = "A1\xFF", .bootloader_version = "B1"},
                           faults);
            return run_cli(std::move(words));
        };
        const auto text = run(args);
        std::vector<std::string> json_args = args;
        json_args.insert(json_args.begin(), "--json");
        const auto result = run(json_args);
        EXPECT_EQ(result.status, text.status);
        EXPECT_EQ(result.err, "");
        std::vector<json> events;              // but progress
        std::map<std::string, json> progress;  // the last of each task
        std::map<std::string, int> steps;
        std::istringstream lines(result.out);
        for (std::string line; std::getline(lines, line);) {
            const json event = json::parse(line, nullptr, false);
            ASSERT_TRUE(event.is_object() && event.value("event", json()).is_string()) << line;
            if (event["event"] != "progress") {
                events.push_back(event);
                continue;
            }
            json& before = progress[event.at("task")];
            EXPECT_GT(event.at("done"), before.is_null() ? json(-1) : before.at("done"));
            EXPECT_LE(event.at("done"), event.at("total"));
            before = event;
            ++steps[event.at("task")];
        }
        ASSERT_EQ(events.size(), expected.size()) << result.out;
        for (std::size_t i = 0; i < events.size(); ++i) {
            for (const auto& [member, value] : expected[i].items()) {
                EXPECT_EQ(events[i].value(member, json()), value) << events[i];
            }
            const json& last = progress[events[i].value("task", "")];
            if (events[i]["event"] == "plan") {
                EXPECT_EQ(last.at("total"), events[i].at("bytes"));
            } else if (events[i]["event"] == "result" && events[i]["ok"] == true) {
                EXPECT_EQ(last.at("done"), last.at("total"));
            }
        }
        EXPECT_LE(steps["bridge_update"], 41);
    }
}

}  // namespace
