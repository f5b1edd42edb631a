// The shipped program's bridge tasks against the virtual device through `ostrel_sim run`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/bridge_flash.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ostrel::testing;
using ::testing::EndsWith;
using ::testing::HasSubstr;

class BridgeBlackbox : public ::testing::Test {
  protected:
    temp_dir dir;
    const std::string device = dir.file("device");
    const std::vector<std::uint8_t> fresh = sim::make_fullrom_image(51, "VXR 2.0");
    const std::string path = dir.file("new.fullrom");

    void init(std::vector<std::string> options) {
        write_file(path, fresh);
        options.insert(options.begin(), {"init", device, "--reenumeration-ms", "20"});
        ASSERT_EQ(ostrel::testing::sim(options).status, 0);
    }
    std::vector<std::uint8_t> dump() {
        EXPECT_EQ(ostrel::testing::sim({"dump", device, "--bridge", dir.file("dump")}).status, 0);
        return read_bytes(dir.file("dump"));
    }
    std::string show() { return ostrel::testing::sim({"show", device}).out; }
};

TEST_F(BridgeBlackbox, BlankDeviceGetsEveryRegionThenNeedsNothing) {
    init({"--bank-status", "0", "--bridge-version", "VXR 1.0"});
    const auto first = run_program(device, {"-u", path});
    EXPECT_EQ(first.status, 0);
    EXPECT_THAT(first.out + first.err, EndsWith("%\nVXR firmware update complete!\n"));
    // Bank 0 of each pair and the esm region hold the image's bytes; bank 1 is not valid.
    auto flash = dump();
    ASSERT_EQ(flash.size(), 0x80000u);
    std::copy(fresh.begin() + 0x20000, fresh.begin() + 0x40000, flash.begin() + 0x20000);
    EXPECT_EQ(flash, fresh);
    EXPECT_THAT(show(), HasSubstr("\"bank_status\": 5"));
    EXPECT_EQ(run_program(device, {"-r"}).out,
              "VXR7200 firmware version: VXR 2.0" + std::string(57, '\0') + "\n");
    const auto second = run_program(device, {"-u", path});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, "Loading VXR firmware file: " + path +
                              "\nlength of file: 524288 bytes\nNo update to VXR firmware needed\n");
}

TEST_F(BridgeBlackbox, ShortFileTouchesNothingAndConfirmedEraseErasesAll) {
    init({"--bridge-flash", path});
    write_file(dir.file("short"), std::vector<std::uint8_t>(fresh.begin(), fresh.end() - 0x40000));
    const auto refused = run_program(device, {"-u", dir.file("short")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "Fullrom file too short: 262144 bytes found, 524288 bytes needed\n"
              "VXR firmware update failed.\n");
    EXPECT_EQ(dump(), fresh);
    EXPECT_THAT(show(), HasSubstr("\"total\": 0"));

    const auto erased = run_program(device, {"-x", "KQWIPEZON"});
    EXPECT_EQ(erased.status, 0);
    EXPECT_EQ(erased.out, "Deleting VXR7200 firmware\nComplete\n");
    EXPECT_EQ(dump(), std::vector<std::uint8_t>(0x80000, 0xFF));
    EXPECT_THAT(show(), HasSubstr("\"bank_status\": 0"));
}

// -f restarts the application, which takes the re-enumeration time (500 ms) to come back;
// -u in the same run waits for it instead of failing.
TEST_F(BridgeBlackbox, UpdateRightAfterAFirmwareLoadWaitsForTheApplication) {
    write_file(path, fresh);
    ASSERT_EQ(ostrel::testing::sim({"init", device}).status, 0);
    write_file(dir.file("firmware.hex"), hex_file(0x404000, random_bytes(1024, 5), 32));
    const auto result = run_program(device, {"-f", dir.file("firmware.hex"), "-u", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out + result.err,
                HasSubstr("Firmware load complete!\nLoading VXR firmware file: "));
    EXPECT_THAT(result.out + result.err, EndsWith("VXR firmware update complete!\n"));
}

}  // namespace
