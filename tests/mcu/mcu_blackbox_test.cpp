// The -f task of the shipped program against the virtual device through `ostrel_sim run`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <thread>

#include "tests/mcu/hex_writer.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ostrel::testing;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class McuBlackbox : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(sim({"init", dir.path(), "--reenumeration-ms", "20"}).status, 0);
    }

    temp_dir dir;
    const std::string path = dir.file("firmware.hex");
};

TEST_F(McuBlackbox, LargestImageLoadsFromApplicationModeAndTheApplicationComesBack) {
    const auto data = random_bytes(0x7C000, 42);
    write_file(path, hex_file(0x404000, data, 32));
    const auto result = run_program(dir.path(), {"-f", path}, 120);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(std::ranges::count(result.out, '\n'), 1 + 992 + 1);  // a line per page
    EXPECT_THAT(result.out, StartsWith("Loading firmware file: " + path +
                                       "\nFirmware progress: 0%\nFirmware progress: 0.100806%\n"));
    EXPECT_THAT(result.out, EndsWith("\nFirmware progress: 99.8992%\nFirmware load complete!\n"));
    ASSERT_EQ(sim({"dump", dir.path(), "--mcu", dir.file("flash.bin")}).status, 0);
    EXPECT_EQ(read_bytes(dir.file("flash.bin")), data);
    usleep(100'000);  // the re-enumeration takes 20 ms
    EXPECT_THAT(sim({"show", dir.path()}).out, HasSubstr("\"mode\": \"application\""));
}

TEST_F(McuBlackbox, CorruptFileLeavesTheApplicationRunningWithoutARequest) {
    std::string text = hex_file(0x404000, random_bytes(4096, 1));
    const std::size_t digit = text.find(":10") + 20;  // a data digit of the first data record
    text[digit] = text[digit] == '0' ? '1' : '0';
    write_file(path, text);
    const auto result = run_program(dir.path(), {"-f", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err,
                StartsWith("hex file line 2: checksum mismatch\nFirmware load failed.\n"));
    EXPECT_EQ(result.out, "Loading firmware file: " + path + "\n");
    // Still running its application, which received no request at all.
    const std::string show = sim({"show", dir.path()}).out;
    EXPECT_THAT(show, HasSubstr("\"mode\": \"application\""));
    EXPECT_THAT(show, HasSubstr("\"total\": 0"));
}

// One run per device: a second -f started while the first loads is refused before it sends
// anything, and the first completes with the flash holding its image.
TEST_F(McuBlackbox, SecondRunWhileALoadIsUnderWayIsRefusedAndTheFirstCompletes) {
    // 32 pages, each acknowledged 150 ms late: the load lasts about 5 s, so that the second
    // run starts while the first is writing even on a busy machine.
    ASSERT_EQ(sim({"fault", dir.path(), "delay:boot/P=150"}).status, 0);
    const auto data = random_bytes(0x4000, 7);
    write_file(path, hex_file(0x404000, data));
    process_result first;
    std::atomic<bool> first_ended = false;
    std::thread load([&] {
        first = run_program(dir.path(), {"-f", path});
        first_ended = true;
    });
    const auto pages_programmed = [this] {
        std::istringstream log(sim({"log", dir.path()}).out);
        int pages = 0;
        for (std::string line; std::getline(log, line);) {
            pages += line.find(" output P ") != std::string::npos ? 1 : 0;
        }
        return pages;
    };
    while (!first_ended && sim({"show", dir.path()}).out.find("\"P\": ") == std::string::npos) {
        usleep(10'000);
    }
    const auto second = run_program(dir.path(), {"-f", path});
    load.join();
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "");
    EXPECT_THAT(second.err, StartsWith("Another ostrel_firmware_update is working on this Ostrel"));
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(pages_programmed(), 32);  // no page twice, none from the second run
    ASSERT_EQ(sim({"dump", dir.path(), "--mcu", dir.file("flash.bin")}).status, 0);
    const auto flash = read_bytes(dir.file("flash.bin"));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
}

}  // namespace
