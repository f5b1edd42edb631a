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
using sim::usb_mode;

// Failures of the -f task: the run ends with status 1 and the application is not restarted.
class FirmwareTask : public ::testing::Test {
  protected:
    int run(std::vector<std::string> args, usb_mode mode, const char* fault = nullptr) {
        dev = &sim::inprocess_device::reset({.mode = mode});
        if (fault != nullptr) {
            dev->arm(fault);
        }
        args.insert(args.begin(), "ostrel_firmware_update");
        out.str("");
        err.str("");
        return ostrel::run_cli(args, out, err);
    }

    temp_dir dir;
    const std::string path = dir.file("image.hex");
    std::ostringstream out;
    std::ostringstream err;
    sim::inprocess_device* dev = nullptr;
};

TEST_F(FirmwareTask, FilesThatCannotBeLoadedAreNamedAndNothingIsSent) {
    std::string corrupt = hex_file(0x404000, random_bytes(64, 3));
    corrupt[corrupt.find('\n', corrupt.find('\n') + 1) - 1] ^= 1;  // the second line's checksum
    const std::pair<std::string, std::string> cases[] = {
        {corrupt, "hex file line 2: checksum mismatch\n"},
        {hex_file(0x400000, {1, 2}),
         "hex image starts at 0x400000, not at the application start 0x404000\n"},
        {hex_file(0x404200, {1, 2}),
         "hex image starts at 0x404200, not at the application start 0x404000\n"},
        {hex_file(0x404000, bytes(0x7C001, 0)),
         "hex image of 507905 bytes does not fit the application area of 507904 bytes\n"},
        {hex_records(0x404000, {1}), "hex file: no end-of-file record\n"},
    };
    // Read and refused before the device is switched: it goes on running its application.
    for (const auto& [text, why] : cases) {
        write_file(path, text);
        EXPECT_EQ(run({"-f", path}, usb_mode::application), 1);
        EXPECT_EQ(out.str(), "Loading firmware file: " + path + "\n");
        EXPECT_EQ(err.str(),
                  why + "Firmware load failed.\nNothing was sent to the Ostrel: check that " +
                      path + " is the microcontroller's firmware.\n");
        EXPECT_TRUE(dev->requests.empty()) << why;
        EXPECT_EQ(dev->state().mode, usb_mode::application);
    }
    const std::string absent = dir.file("absent.hex");
    EXPECT_EQ(run({"-f", absent}, usb_mode::application), 1);
    EXPECT_EQ(out.str(),
              "Loading firmware file: " + absent + "\nCould not open hex file: " + absent + "\n");
    EXPECT_EQ(err.str(), "Firmware load failed.\n" + absent +
                             ": No such file or directory. Nothing was sent to the Ostrel.\n");
    EXPECT_TRUE(dev->requests.empty());
}

TEST_F(FirmwareTask, RefusedPageLeavesTheDeviceInItsBootloader) {
    write_file(path, hex_file(0x404000, bytes(2048, 7)));
    EXPECT_EQ(run({"-f", path}, usb_mode::bootloader, "refuse:boot/P@2"), 1);
    EXPECT_EQ(err.str(),
              "Firmware load failed.\nThe load stopped at 25 % (512 of 2048 bytes): the Ostrel "
              "waits in its bootloader with an incomplete application. Run the same -f again to "
              "load it whole.\n");
    for (const auto& request : dev->requests) {
        EXPECT_NE(request.bytes[1], 'B');
    }
    EXPECT_EQ(dev->state().mode, usb_mode::bootloader);
}

TEST_F(FirmwareTask, NoFileNameOrNoBootloaderEndsTheRunBeforeAnyLoad) {
    EXPECT_EQ(run({"-f"}, usb_mode::application), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "no filename given with -f option\n");
    EXPECT_TRUE(dev->opens.empty());
    // Nor is the bridge update after it tried.
    EXPECT_EQ(run({"-u", dir.file("absent.fullrom"), "-f", path}, usb_mode::absent), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str().substr(0, err.str().find('\n') + 1),
              "Could not connect to bootloader. Firmware load aborted.\n");
}

}  // namespace
