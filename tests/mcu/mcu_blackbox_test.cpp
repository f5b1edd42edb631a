// The -f task of the shipped program against the virtual device through `ostrel_sim run`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>

#include "tests/mcu/hex_writer.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ostrel::testing;
using ::testing::HasSubstr;
using ::testing::Not;

class McuBlackbox : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(sim({"init", dir.path(), "--reenumeration-ms", "20"}).status, 0);
    }

    std::vector<std::uint8_t> dumped_flash() {
        EXPECT_EQ(sim({"dump", dir.path(), "--mcu", dir.file("flash.bin")}).status, 0);
        return read_bytes(dir.file("flash.bin"));
    }

    std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }

    temp_dir dir;
};

TEST_F(McuBlackbox, LargestImageLoadsFromApplicationModeAndTheApplicationComesBack) {
    const auto data = random_bytes(0x7C000, 42);
    const std::string path = dir.file("firmware.hex");
    write_file(path, hex_file(0x404000, data, 32));
    const auto result = run_program(dir.path(), {"-f", path}, 120);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const auto out = lines(result.out);
    ASSERT_EQ(out.size(), 1 + 992 + 1u);
    EXPECT_EQ(out.front(), "Loading firmware file: " + path);
    EXPECT_EQ(out[1], "Firmware progress: 0%");
    EXPECT_EQ(out[2], "Firmware progress: 0.100806%");
    EXPECT_EQ(out[992], "Firmware progress: 99.8992%");
    EXPECT_EQ(out.back(), "Firmware load complete!");

    EXPECT_EQ(dumped_flash(), data);
    usleep(100'000);  // the re-enumeration takes 20 ms
    EXPECT_THAT(sim({"show", dir.path()}).out, HasSubstr("\"mode\": \"application\""));
    const std::string log = sim({"log", dir.path()}).out;
    EXPECT_THAT(log, HasSubstr("bootloader output e mode=2 address=0x404000 crc=ok"));
    EXPECT_THAT(log, HasSubstr("bootloader output P address=0x47FE00 crc=ok"));
    EXPECT_THAT(log, HasSubstr("bootloader output B"));
}

TEST_F(McuBlackbox, CorruptFileErasesNothing) {
    const std::string path = dir.file("corrupt.hex");
    std::string text = hex_file(0x404000, random_bytes(4096, 1));
    const std::size_t digit = text.find(":10") + 20;  // a data digit of the first data record
    text[digit] = text[digit] == '0' ? '1' : '0';
    write_file(path, text);
    const auto result = run_program(dir.path(), {"-f", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "hex file line 2: checksum mismatch\nFirmware load failed.\n");
    EXPECT_EQ(result.out, "Loading firmware file: " + path + "\n");
    EXPECT_EQ(dumped_flash(), std::vector<std::uint8_t>(0x7C000, 0xFF));
    const std::string show = sim({"show", dir.path()}).out;
    EXPECT_THAT(show, HasSubstr("\"mode\": \"bootloader\""));
    EXPECT_THAT(show, HasSubstr("\"bootloader\": {}"));
}

}  // namespace
