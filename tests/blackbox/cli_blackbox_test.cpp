// The shipped program, unmodified, against the virtual device through `ostrel_sim run`: what
// only real processes show: a second run at the same time, runs on two devices at once, a
// terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/mcu/hex_writer.h"
#include "tests/support/process.h"

namespace {

using namespace ostrel::testing;
using ostrel::testing::sim;  // the command, not the namespace
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A virtual device in `dir` (more `ostrel_sim init` options in `options`), back 20 ms after
// a mode switch, each page it takes acknowledged `page_delay_ms` late.
void init(const std::string& dir, int page_delay_ms, std::vector<std::string> options = {}) {
    options.insert(options.begin(), {"init", dir, "--reenumeration-ms", "20"});
    ASSERT_EQ(sim(options).status, 0);
    ASSERT_EQ(sim({"fault", dir, "delay:boot/P=" + std::to_string(page_delay_ms)}).status, 0);
}

// Whether the device in `dir` took `pages` page programs and its application area starts
// with `data`.
bool loaded(const std::string& dir, int pages, const bytes& data) {
    const std::string dump = dir + "/mcu.bin";
    return sim({"show", dir}).out.find("\"P\": " + std::to_string(pages)) != std::string::npos &&
           sim({"dump", dir, "--mcu", dump}).status == 0 &&
           std::equal(data.begin(), data.end(), read_bytes(dump).begin());
}

// On a terminal 40 columns wide, -f and -u each draw one line redrawn in place: it starts
// with the erase, never wraps, and ends at 100 % with the rate before the final message;
// each wait for the device after a mode switch is announced once.
TEST(Blackbox, OnATerminalProgressIsOneLineRedrawnInPlace) {
    const temp_dir dir;
    init(dir.path(), 0);
    ASSERT_EQ(sim({"hex", dir.file("fw.hex"), "--size", "0x20000"}).status, 0);
    ASSERT_EQ(sim({"fullrom", dir.file("new.fullrom")}).status, 0);
    const int columns = 40;
    const auto result = run_program(
        dir.path(), {"-f", dir.file("fw.hex"), "-u", dir.file("new.fullrom")}, 60, columns);
    EXPECT_EQ(result.status, 0) << result.out;
    const std::string& screen = result.out;
    // The rows of the screen (the terminal ends each line with CR LF), and in each the
    // texts drawn over one another.
    std::vector<std::vector<std::string>> progress_rows;
    for (std::size_t at = 0; at < screen.size();) {
        const std::size_t end = std::min(screen.find("\r\n", at), screen.size());
        const std::string row = screen.substr(at, end - at);
        at = end + 2;
        if (row.find(" progress: erasing...") == std::string::npos) {
            continue;
        }
        std::vector<std::string> draws;
        for (std::size_t from = 0; from <= row.size();) {
            const std::size_t cut = std::min(row.find('\r', from), row.size());
            draws.push_back(row.substr(from, cut - from));
            from = cut + 1;
        }
        std::erase(draws, "");
        progress_rows.push_back(draws);
    }
    ASSERT_EQ(progress_rows.size(), 2U) << screen;
    for (std::size_t job = 0; job < 2; ++job) {
        const auto& draws = progress_rows[job];
        EXPECT_THAT(draws.front(), StartsWith(job == 0 ? "Firmware progress: erasing..."
                                                       : "VXR firmware progress: erasing..."));
        for (const std::string& draw : draws) {
            EXPECT_LE(draw.size(), static_cast<std::size_t>(columns)) << '"' << draw << '"';
        }
        EXPECT_THAT(draws.back(), ::testing::MatchesRegex(".*100%.* [0-9.]+ KB/s *"));
    }
    for (const char* text :
         {"Firmware load complete!", "Need to update fw", "VXR firmware update complete!"}) {
        EXPECT_THAT(screen, HasSubstr(text));
    }
    EXPECT_LT(screen.find("Firmware progress: erasing"), screen.find("Firmware load complete!"));
    EXPECT_LT(screen.find("VXR firmware progress: erasing"),
              screen.find("VXR firmware update complete!"));
    const std::string waiting = "Waiting up to 15 s for the Ostrel to come back as its bootloader";
    EXPECT_EQ(screen.find(waiting), screen.rfind(waiting));
    EXPECT_NE(screen.find(waiting), std::string::npos);
    // The file names, the plan, the outcomes and the wait: no line per page or chunk.
    EXPECT_LT(std::count(screen.begin(), screen.end(), '\n'), 15) << screen;
}

// One run per device: a second -f started while the first loads is refused before it sends
// anything, and the first completes with the flash holding its image.
TEST(Blackbox, SecondRunWhileALoadIsUnderWayIsRefusedAndTheFirstCompletes) {
    // 32 pages, each acknowledged 150 ms late: the load lasts about 5 s, so that the second
    // run starts while the first is writing even on a busy machine.
    const temp_dir dir;
    init(dir.path(), 150);
    const std::string hex = dir.file("firmware.hex");
    const auto data = random_bytes(0x4000, 7);
    write_file(hex, hex_file(0x404000, data));
    process_result first;
    std::atomic<bool> first_ended = false;
    std::thread load([&] {
        first = run_program(dir.path(), {"-f", hex});
        first_ended = true;
    });
    while (!first_ended && sim({"show", dir.path()}).out.find("\"P\": ") == std::string::npos) {
        usleep(10'000);
    }
    const auto second = run_program(dir.path(), {"-f", hex});
    load.join();
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "");
    // On this Ostrel, or, should the second run start while the first run's device is off USB
    // for its mode switch, on an Ostrel off USB.
    EXPECT_THAT(second.err, StartsWith("Another ostrel_firmware_update is working on "))
        << sim({"log", dir.path()}).out;
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(loaded(dir.path(), 32, data));  // no page twice, none from the second run
}

// Two devices on one host, a run on each at the same time: both loads complete, each device
// holding its own image with no page twice (each run locks its own device only).
TEST(Blackbox, ParallelRunsOnTwoDevicesBothComplete) {
    const temp_dir dir;
    const std::string dirs[] = {dir.file("a"), dir.file("b")};
    const std::string ports[] = {"85-1", "85-2"};
    process_result results[2];
    std::thread runs[2];
    for (int i = 0; i < 2; ++i) {
        init(dirs[i], 40, {"--port", ports[i]});  // pages 40 ms late: the two loads overlap
        write_file(dir.file(ports[i]), hex_file(0x404000, random_bytes(0x2000, i + 1)));
    }
    for (int i = 0; i < 2; ++i) {
        runs[i] = std::thread([&, i] {
            results[i] = run_process({sim_path, "run", dirs[0], dirs[1], "--", program_path, "-d",
                                      ports[i], "-f", dir.file(ports[i])});
        });
    }
    for (int i = 0; i < 2; ++i) {
        runs[i].join();
        EXPECT_EQ(results[i].status, 0) << results[i].err;
        EXPECT_TRUE(loaded(dirs[i], 16, random_bytes(0x2000, i + 1)));
    }
}

// Started with standard output closed, the program writes its text nowhere rather than into
// the first device it opens: the load completes and the device's state is whole.
TEST(Blackbox, WithStandardOutputClosedTheJobIsDoneAndTheDeviceUntouchedByText) {
    const temp_dir dir;
    init(dir.path(), 0, {"--mode", "bootloader"});
    const std::string hex = dir.file("firmware.hex");
    const auto data = random_bytes(0x1000, 9);
    write_file(hex, hex_file(0x404000, data));
    const auto result = run_process({sim_path, "run", dir.path(), "--", "/bin/sh", "-c",
                                     "exec \"$0\" -f \"$1\" >&-", program_path, hex});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(loaded(dir.path(), 8, data));
    EXPECT_THAT(sim({"show", dir.path()}).out, HasSubstr("\"mode\": \"application\""));
}

}  // namespace
