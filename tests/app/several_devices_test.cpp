// Two Ostrels on one host, in process: a pick reaches its device alone, a run that cannot
// tell which one to use sends nothing, and a pick is followed through a mode switch.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sim/inprocess_device.h"
#include "tests/support/cli_run.h"

namespace {

using sim::inprocess_device;
using sim::usb_mode;

// Device `i` (versions of its own) on USB port `port` with serial number `serial`, in place of
// every device there, or else beside them.
void attach(int i, const std::string& port, const std::string& serial, bool beside) {
    const sim::device_options options{.app_version = "APP " + std::to_string(i),
                                      .bootloader_version = "BL " + std::to_string(i)};
    auto& dev = beside ? inprocess_device::add(options) : inprocess_device::reset(options);
    sim::set_usb_place(dev.state(), port, serial);
}

// Device 0 on `ports[0]` with serial "S0", device 1 on `ports[1]` with `serial1`.
void two_devices(const std::string (&ports)[2], const std::string& serial1 = "S1") {
    attach(0, ports[0], "S0", false);
    attach(1, ports[1], serial1, true);
}

std::vector<sim::request_bytes> sent(int device) {
    std::vector<sim::request_bytes> bytes;
    for (const auto& record : inprocess_device::at(device).requests) {
        bytes.push_back(record.bytes);
    }
    return bytes;
}

struct pick_row {
    std::vector<std::string> args;
    const char* variable;  // OSTREL_DEVICE; null: unset
    int picked;
};

// A pick by port, by serial number, from OSTREL_DEVICE or with -d over it, reaches its device
// with the same requests as a run with that device alone; the other is neither opened nor
// sent anything.
TEST(SeveralDevices, APickGetsTheRequestsOfALoneDeviceAndTheOtherNothing) {
    const pick_row rows[] = {
        {{"-v", "-r", "-b", "-d", "81-2"}, nullptr, 1},
        {{"-b", "-v", "-d", "S0"}, nullptr, 0},
        {{"-v", "-r"}, "S1", 1},
        {{"-b", "-d", "81-1"}, "S1", 0},
    };
    const std::string ports[] = {"81-1", "81-2"};
    for (const auto& [args, variable, picked] : rows) {
        if (variable != nullptr) {
            setenv("OSTREL_DEVICE", variable, 1);
        }
        attach(picked, ports[picked], "S" + std::to_string(picked), false);
        const auto alone = ostrel::testing::run_cli(args);
        const std::vector<sim::request_bytes> expected = sent(0);
        two_devices(ports);
        const auto result = ostrel::testing::run_cli(args);
        unsetenv("OSTREL_DEVICE");
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, alone.out);
        EXPECT_EQ(sent(picked), expected);
        EXPECT_TRUE(inprocess_device::at(1 - picked).requests.empty());
        EXPECT_TRUE(inprocess_device::at(1 - picked).opens.empty());
    }
}

// No pick with two attached, a pick that names none, a serial number both have, -d without
// a value: status 1, the reason (and the Ostrels concerned) on standard error, and neither
// device opened.
TEST(SeveralDevices, AnUnclearPickSendsNothingToEither) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"-v"},
         "Several Ostrels are attached: pick one with -d PORT or -d SERIAL, or set "
         "OSTREL_DEVICE. Attached:\napplication\t82-1\tS0\t82-1:1.0\n"
         "application\t82-2\tS0\t82-2:1.0\n"},
        {{"-v", "-d", "82-3"},
         "No attached Ostrel has the USB port path or serial "
         "number 82-3: run with -l to see those attached\n"},
        {{"-r", "-d", "S0"},
         "More than one attached Ostrel has the serial number "
         "S0: pick one by its USB port path. Attached with it:\n"
         "application\t82-1\tS0\t82-1:1.0\n"
         "application\t82-2\tS0\t82-2:1.0\n"},
        {{"-b", "-d"},
         "-d needs a device: a USB port path or a serial number, as -l shows "
         "them\n"},
    };
    unsetenv("OSTREL_DEVICE");
    for (const auto& [args, err] : rows) {
        two_devices({"82-1", "82-2"}, "S0");
        const auto result = ostrel::testing::run_cli(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, err);
        for (int device = 0; device < 2; ++device) {
            EXPECT_TRUE(inprocess_device::at(device).opens.empty());
        }
    }
}

// Device 1 is picked and switched to its bootloader while device 0, listed first, comes
// back to USB as a bootloader at the same moment: the run reads device 1's bootloader.
TEST(SeveralDevices, APickIsFollowedOnItsPortThroughAModeSwitch) {
    unsetenv("OSTREL_DEVICE");
    two_devices({"83-1", "83-2"});
    auto& other = inprocess_device::at(0);
    sim::leave_usb(other.state(), other.now_ns(), usb_mode::bootloader);
    const auto result = ostrel::testing::run_cli({"-l", "-b", "-d", "83-2"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "application\t83-2\tS1\t83-2:1.0\nbootloader version: BL 1" +
                              std::string(65 - 4, '\0') + "\n");
    EXPECT_TRUE(other.requests.empty());
    EXPECT_EQ(other.state().mode, usb_mode::bootloader);
    EXPECT_EQ(sent(1).size(), 2u);  // 'B' to the application, '*' to the bootloader
}

}  // namespace
