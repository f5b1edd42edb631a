#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/mcu_task.h"
#include "app/tasks.h"
#include "sim/inprocess_device.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ostrel::testing;
using sim::inprocess_device;
using sim::usb_mode;

struct cli_result {
    int status;
    std::string out;
    std::string err;
};

cli_result run(std::vector<std::string> args) {
    args.insert(args.begin(), "ostrel_firmware_update");
    std::ostringstream out;
    std::ostringstream err;
    const int status = ostrel::run_cli(args, out, err);
    return {status, out.str(), err.str()};
}

sim::device_options in_mode(usb_mode mode) {
    sim::device_options options;
    options.mode = mode;
    return options;
}

class FirmwareTask : public ::testing::Test {
  protected:
    std::string image(const std::vector<std::uint8_t>& data, std::uint32_t address = 0x404000) {
        const std::string path = dir.file("image.hex");
        write_file(path, hex_file(address, data));
        return path;
    }

    std::size_t count(const inprocess_device& dev, usb_mode mode, std::uint8_t command) {
        std::size_t n = 0;
        for (const auto& request : dev.requests) {
            n += request.mode == mode && request.bytes[1] == command ? 1 : 0;
        }
        return n;
    }

    temp_dir dir;
};

TEST_F(FirmwareTask, LoadsFromApplicationModeAndStartsTheApplicationAgain) {
    auto& dev = inprocess_device::reset(in_mode(usb_mode::application));
    const std::string path = image(random_bytes(1024, 2));
    const auto result = run({"-f", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "Loading firmware file: " + path +
                              "\nFirmware progress: 0%\nFirmware progress: 50%\n"
                              "Firmware load complete!\n");
    const auto& last = dev.requests.back();
    EXPECT_EQ(last.mode, usb_mode::bootloader);
    EXPECT_EQ(last.via, sim::channel::output);
    EXPECT_EQ(last.bytes[1], 'B');
    EXPECT_EQ(dev.state().return_mode, usb_mode::application);
    EXPECT_EQ(count(dev, usb_mode::bootloader, 'P'), 2u);
}

TEST_F(FirmwareTask, CorruptFileErasesNothingAndSaysWhere) {
    auto& dev = inprocess_device::reset(in_mode(usb_mode::bootloader));
    const std::string path = dir.file("corrupt.hex");
    std::string text = hex_file(0x404000, random_bytes(64, 3));
    text[text.find('\n', text.find('\n') + 1) - 1] ^= 1;  // last digit of the second line
    write_file(path, text);
    const auto result = run({"-f", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Loading firmware file: " + path + "\n");
    EXPECT_EQ(result.err, "hex file line 2: checksum mismatch\nFirmware load failed.\n");
    EXPECT_TRUE(dev.requests.empty());
    EXPECT_EQ(dev.state().mode, usb_mode::bootloader);
}

TEST_F(FirmwareTask, ImagesTheAreaCannotTakeAreNamedOnStandardError) {
    inprocess_device::reset(in_mode(usb_mode::bootloader));
    auto result = run({"-f", image({1, 2}, 0x400000)});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "hex image starts at 0x400000, not at the application start 0x404000\n"
              "Firmware load failed.\n");
    result = run({"-f", image(std::vector<std::uint8_t>(0x7C001, 0))});
    EXPECT_EQ(result.err,
              "hex image of 507905 bytes does not fit the application area of 507904 bytes\n"
              "Firmware load failed.\n");
    write_file(dir.file("no-end.hex"), hex_records(0x404000, std::vector<std::uint8_t>{1}));
    result = run({"-f", dir.file("no-end.hex")});
    EXPECT_EQ(result.err, "hex file: no end-of-file record\nFirmware load failed.\n");
}

TEST_F(FirmwareTask, MissingFileIsSaidOnStandardOutput) {
    inprocess_device::reset(in_mode(usb_mode::bootloader));
    const std::string path = dir.file("absent.hex");
    const auto result = run({"-f", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              "Loading firmware file: " + path + "\nCould not open hex file: " + path + "\n");
    EXPECT_EQ(result.err, "Firmware load failed.\n");
}

TEST_F(FirmwareTask, RefusedPageLeavesTheDeviceInItsBootloader) {
    auto& dev = inprocess_device::reset(in_mode(usb_mode::bootloader));
    dev.arm("refuse:boot/P@2");
    const auto result = run({"-f", image(std::vector<std::uint8_t>(2048, 7))});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Firmware load failed.\n");
    EXPECT_EQ(count(dev, usb_mode::bootloader, 'B'), 0u);
    EXPECT_EQ(dev.state().mode, usb_mode::bootloader);
}

TEST_F(FirmwareTask, MissingFileNameFailsWithoutTouchingTheDevice) {
    auto& dev = inprocess_device::reset();
    const auto result = run({"-f"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "no filename given with -f option\n");
    EXPECT_TRUE(dev.opens.empty());
}

TEST_F(FirmwareTask, NoBootloaderEndsTheRunBeforeTheBridgeUpdate) {
    inprocess_device::reset(in_mode(usb_mode::absent));
    const auto result = run({"-u", dir.file("absent.fullrom"), "-f", image({1})});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Could not connect to bootloader. Firmware load aborted.\n");
}

TEST(FirmwareProgressPrinter, PrintsPercentagesInGeneralFormat) {
    std::ostringstream out;
    for (const double f : {0.0, 0.5, 0.123456789, 1.0 / 3.0, 1.0}) {
        ostrel::firmware_progress_printer(out, f);
    }
    EXPECT_EQ(out.str(),
              "Firmware progress: 0%\nFirmware progress: 50%\nFirmware progress: 12.3457%\n"
              "Firmware progress: 33.3333%\nFirmware progress: 100%\n");
}

}  // namespace
