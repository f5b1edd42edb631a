// The shipped program, unmodified, against the virtual device through `ostrel_sim run`: what
// only real processes show (a second run at the same time, a terminal, the simulator's own
// command line) and a whole bridge job.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/mcu/hex_writer.h"
#include "tests/support/process.h"

namespace {

using namespace ostrel::testing;
using ostrel::testing::sim;  // the command, not the namespace
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class Blackbox : public ::testing::Test {
  protected:
    void init(std::vector<std::string> options = {}) {
        options.insert(options.begin(),
                       {"init", dir.path(), "--reenumeration-ms", "20", "--app-version", "APP 2.1",
                        "--bootloader-version", "BL 0.9", "--bridge-version", "VXR 5.4"});
        ASSERT_EQ(sim(options).status, 0);
    }
    std::string show() { return sim({"show", dir.path()}).out; }
    std::vector<std::uint8_t> dump(const char* which) {
        EXPECT_EQ(sim({"dump", dir.path(), which, dir.file("dump")}).status, 0);
        return read_bytes(dir.file("dump"));
    }

    temp_dir dir;
    const std::string hex = dir.file("firmware.hex");
    const std::string rom = dir.file("new.fullrom");
};

// On a terminal -f and -u each draw one line redrawn in place that ends at 100 % before the
// final message, and each wait for the device after a mode switch is announced once.
TEST_F(Blackbox, OnATerminalProgressIsOneLineRedrawnInPlace) {
    init();
    ASSERT_EQ(sim({"hex", dir.file("fw.hex"), "--size", "0x20000"}).status, 0);
    ASSERT_EQ(sim({"fullrom", dir.file("new.fullrom")}).status, 0);
    const auto result = run_program(
        dir.path(), {"-f", dir.file("fw.hex"), "-u", dir.file("new.fullrom")}, 60, true);
    EXPECT_EQ(result.status, 0) << result.out;
    const std::string& screen = result.out;
    for (const char* text :
         {"\rFirmware progress: 100% 131072/131072 bytes", "Firmware load complete!",
          "Need to update fw", "\rVXR firmware progress: 100% ", "VXR firmware update complete!"}) {
        EXPECT_THAT(screen, HasSubstr(text));
    }
    EXPECT_LT(screen.find("Firmware progress: 100%"), screen.find("Firmware load complete!"));
    EXPECT_LT(screen.find("VXR firmware progress: 100%"),
              screen.find("VXR firmware update complete!"));
    const std::string waiting = "Waiting up to 15 s for the Ostrel to come back as its bootloader";
    EXPECT_EQ(screen.find(waiting), screen.rfind(waiting));
    EXPECT_NE(screen.find(waiting), std::string::npos);
    // The file names, the plan, the outcomes and the wait: no line per page or chunk.
    EXPECT_LT(std::count(screen.begin(), screen.end(), '\n'), 15) << screen;
}

// One run per device: a second -f started while the first loads is refused before it sends
// anything, and the first completes with the flash holding its image.
TEST_F(Blackbox, SecondRunWhileALoadIsUnderWayIsRefusedAndTheFirstCompletes) {
    init();
    // 32 pages, each acknowledged 150 ms late: the load lasts about 5 s, so that the second
    // run starts while the first is writing even on a busy machine.
    ASSERT_EQ(sim({"fault", dir.path(), "delay:boot/P=150"}).status, 0);
    const auto data = random_bytes(0x4000, 7);
    write_file(hex, hex_file(0x404000, data));
    process_result first;
    std::atomic<bool> first_ended = false;
    std::thread load([&] {
        first = run_program(dir.path(), {"-f", hex});
        first_ended = true;
    });
    while (!first_ended && show().find("\"P\": ") == std::string::npos) {
        usleep(10'000);
    }
    const auto second = run_program(dir.path(), {"-f", hex});
    load.join();
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "");
    EXPECT_THAT(second.err, StartsWith("Another ostrel_firmware_update is working on this Ostrel"));
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_THAT(show(), HasSubstr("\"P\": 32"));  // no page twice, none from the second run
    const auto flash = dump("--mcu");
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
}

// Two devices on one host, a run on each at the same time: both loads complete, each device
// holding its own image with no page twice (each run locks its own device only).
TEST_F(Blackbox, ParallelRunsOnTwoDevicesBothComplete) {
    const std::string dirs[] = {dir.file("a"), dir.file("b")};
    const std::string ports[] = {"85-1", "85-2"};
    process_result results[2];
    std::thread runs[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(sim({"init", dirs[i], "--port", ports[i], "--reenumeration-ms", "20"}).status, 0);
        // Pages acknowledged 40 ms late, so that the two loads overlap.
        ASSERT_EQ(sim({"fault", dirs[i], "delay:boot/P=40"}).status, 0);
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
        EXPECT_THAT(sim({"show", dirs[i]}).out, HasSubstr("\"P\": 16"));
        EXPECT_EQ(sim({"dump", dirs[i], "--mcu", dir.file("dump")}).status, 0);
        const auto data = random_bytes(0x2000, i + 1);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), read_bytes(dir.file("dump")).begin()));
    }
}

TEST_F(Blackbox, BlankBridgeGetsEveryRegionThenNeedsNothingAndConfirmedEraseErasesAll) {
    init({"--bank-status", "0"});
    ASSERT_EQ(sim({"fullrom", rom, "--bridge-version", "VXR 2.0"}).status, 0);
    const auto fresh = read_bytes(rom);
    const auto first = run_program(dir.path(), {"-u", rom});
    EXPECT_EQ(first.status, 0);
    EXPECT_THAT(first.out + first.err, EndsWith("%\nVXR firmware update complete!\n"));
    // Bank 0 of each pair and the esm region hold the image's bytes; bank 1 is not valid.
    auto flash = dump("--bridge");
    ASSERT_EQ(flash.size(), 0x80000u);
    std::copy(fresh.begin() + 0x20000, fresh.begin() + 0x40000, flash.begin() + 0x20000);
    EXPECT_EQ(flash, fresh);
    EXPECT_THAT(show(), HasSubstr("\"bank_status\": 5"));
    EXPECT_EQ(run_program(dir.path(), {"-r"}).out,
              "VXR7200 firmware version: VXR 2.0" + std::string(57, '\0') + "\n");
    const auto second = run_program(dir.path(), {"-u", rom});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, "Loading VXR firmware file: " + rom +
                              "\nlength of file: 524288 bytes\nNo update to VXR firmware needed\n");
    const auto erased = run_program(dir.path(), {"-x", "KQWIPEZON"});
    EXPECT_EQ(erased.status, 0);
    EXPECT_EQ(erased.out, "Deleting VXR7200 firmware\nComplete\n");
    EXPECT_EQ(dump("--bridge"), std::vector<std::uint8_t>(0x80000, 0xFF));
    EXPECT_THAT(show(), HasSubstr("\"bank_status\": 0"));
}

}  // namespace
