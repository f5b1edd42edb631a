// The shipped program's bridge tasks against the virtual device through `ostrel_sim run`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/bridge_flash.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ostrel::testing;
using ::testing::EndsWith;
using ::testing::HasSubstr;

using image = std::vector<std::uint8_t>;

class BridgeBlackbox : public ::testing::Test {
  protected:
    temp_dir dir;
    const std::string device = dir.file("device");
    const image fresh = sim::make_fullrom_image(51, "VXR 2.0");
    const std::string path = dir.file("new.fullrom");

    void SetUp() override { write_file(path, fresh); }

    void init(std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"init", device, "--reenumeration-ms", "20"});
        ASSERT_EQ(ostrel::testing::sim(options).status, 0);
    }

    image dump() {
        const std::string file = dir.file("dump.bin");
        EXPECT_EQ(ostrel::testing::sim({"dump", device, "--bridge", file}).status, 0);
        return read_bytes(file);
    }

    std::string show() { return ostrel::testing::sim({"show", device}).out; }
};

bool same(const image& a, const image& b, std::size_t start, std::size_t size) {
    return std::equal(a.begin() + start, a.begin() + start + size, b.begin() + start);
}

TEST_F(BridgeBlackbox, BlankDeviceGetsEveryRegionThenNeedsNothing) {
    init({"--bank-status", "0", "--bridge-version", "VXR 1.0"});
    const auto first = run_program(device, {"-u", path});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.err, "");
    EXPECT_THAT(first.out,
                HasSubstr("Need to update config\nNeed to update fw\nNeed to update esm\n"));
    EXPECT_THAT(first.out, EndsWith("VXR firmware update complete!\n"));

    // Bank 0 of each pair got the image's bank-0 copy; bank 1 is erased, its trailer
    // zeroed at both ends; the esm region is the image's.
    const image flash = dump();
    ASSERT_EQ(flash.size(), 0x80000u);
    EXPECT_TRUE(same(flash, fresh, 0x00000, 0x20000));
    EXPECT_TRUE(same(flash, fresh, 0x40000, 0x40000));
    image bank1(0x20000, 0xFF);
    for (const std::size_t at : {0x07FF0, 0x07FFF, 0x1FFF0, 0x1FFFF}) {
        bank1[at] = 0x00;
    }
    EXPECT_TRUE(std::equal(bank1.begin(), bank1.end(), flash.begin() + 0x20000));
    EXPECT_THAT(show(), HasSubstr("\"bank_status\": 5"));

    const auto version = run_program(device, {"-r"});
    EXPECT_EQ(version.out, "VXR7200 firmware version: VXR 2.0" + std::string(57, '\0') + "\n");

    const auto second = run_program(device, {"-u", path});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, "Loading VXR firmware file: " + path +
                              "\nlength of file: 524288 bytes\nNo update to VXR firmware needed\n");
}

TEST_F(BridgeBlackbox, ConfirmedEraseLeavesTheFlashErased) {
    write_file(dir.file("flash.bin"), fresh);
    init({"--bridge-flash", dir.file("flash.bin")});
    EXPECT_THAT(show(), HasSubstr("\"bank_status\": 15"));
    const auto result = run_program(device, {"-x", "KQWIPEZON"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "Deleting VXR7200 firmware\nComplete\n");
    const image flash = dump();
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_THAT(show(), HasSubstr("\"bank_status\": 0"));
}

TEST_F(BridgeBlackbox, ShortFileErasesNothing) {
    write_file(dir.file("flash.bin"), fresh);
    init({"--bridge-flash", dir.file("flash.bin")});
    const std::string short_path = dir.file("short.fullrom");
    write_file(short_path, image(fresh.begin(), fresh.begin() + 0x40000));
    const auto result = run_program(device, {"-u", short_path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "Fullrom file too short: 262144 bytes found, 524288 bytes needed\n"
              "VXR firmware update failed.\n");
    EXPECT_EQ(dump(), fresh);
    EXPECT_THAT(show(), HasSubstr("\"total\": 0"));
}

// -f restarts the application, which takes the re-enumeration time (500 ms) to come back;
// -u in the same run waits for it instead of failing.
TEST_F(BridgeBlackbox, UpdateRightAfterAFirmwareLoadWaitsForTheApplication) {
    ASSERT_EQ(ostrel::testing::sim({"init", device}).status, 0);
    const std::string hex = dir.file("firmware.hex");
    write_file(hex, hex_file(0x404000, random_bytes(1024, 5), 32));
    const auto result = run_program(device, {"-f", hex, "-u", path});
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, HasSubstr("Firmware load complete!\nLoading VXR firmware file: "));
    EXPECT_THAT(result.out, EndsWith("VXR firmware update complete!\n"));
}

}  // namespace
