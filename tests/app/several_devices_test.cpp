// Two Ostrels on one host, in process: a pick reaches its device alone, a run that cannot
// tell which one to use sends nothing, and a pick is followed through a mode switch. And the
// lock of a run's device: a run that cannot take it, or that finds no device while another
// run holds an Ostrel's lock, opens nothing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
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

// Two Ostrels with neither port nor serial number are told apart by the device path that -l
// prints; with none attached, -l says so on standard error and ends with status 0.
TEST(SeveralDevices, APickByDevicePathAndAnEmptyList) {
    unsetenv("OSTREL_DEVICE");
    two_devices({"", ""}, "");
    sim::set_usb_place(inprocess_device::at(0).state(), "", "");
    const std::string path = "virtual:ostrel:inprocess:" + std::to_string(getpid()) + ":1";
    const auto result = ostrel::testing::run_cli({"-v", "-d", path});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "application version: " + ostrel::testing::padded("APP 1", 64) + "\n");
    EXPECT_TRUE(inprocess_device::at(0).opens.empty());
    sim::replug(inprocess_device::reset().state(), usb_mode::absent);
    const auto empty = ostrel::testing::run_cli({"-l"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "");
    EXPECT_EQ(empty.err, "No Ostrel is attached.\n");
}

// No pick with two attached, a pick that names none, a serial number both have, -d without
// a value: status 1, the reason (and the Ostrels concerned) on standard error, and neither
// device opened.
TEST(SeveralDevices, AnUnclearPickSendsNothingToEither) {
    struct row {
        std::vector<std::string> args;
        std::string err;
        const char* variable = nullptr;  // OSTREL_DEVICE
    };
    const row rows[] = {
        {{"-v"},
         "Several Ostrels are attached: pick one with -d PORT or -d SERIAL, or set "
         "OSTREL_DEVICE. Attached:\napplication\t82-1\tS0\t82-1:1.0\n"
         "application\t82-2\tS0\t82-2:1.0\n"},
        {{"-v", "-d", "82-3"},
         "No attached Ostrel has the USB port path, serial number or device path 82-3 given "
         "with -d: run with -l to see those attached\n"},
        {{"-v"},
         "No attached Ostrel has the USB port path, serial number or device path x given in "
         "OSTREL_DEVICE: run with -l to see those attached\n",
         "x"},
        {{"-r", "-d", "S0"},
         "More than one attached Ostrel has the serial number S0 given with -d: pick one by "
         "its USB port path or device path. Attached with it:\n"
         "application\t82-1\tS0\t82-1:1.0\n"
         "application\t82-2\tS0\t82-2:1.0\n"},
        {{"-b", "-d"},
         "-d needs a device: give a USB port path, a serial number or a device path, as -l "
         "shows them\n"},
        {{"-b", "-d", ""},
         "-d is empty: give a USB port path, a serial number or a device path, as -l shows "
         "them\n"},
    };
    for (const auto& [args, err, variable] : rows) {
        if (variable != nullptr) {
            setenv("OSTREL_DEVICE", variable, 1);
        }
        two_devices({"82-1", "82-2"}, "S0");
        const auto result = ostrel::testing::run_cli(args);
        unsetenv("OSTREL_DEVICE");
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
    EXPECT_EQ(sent(1).size(), 3u);  // 'B' to the application, '*', 'B' to the bootloader
}

// The lock in `other` as another run holds it: the descriptor of the lock file.
int another_runs_lock(const std::string& /*file*/, const std::string& other) {
    const int fd = open(other.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    return fd;
}

// A lock that cannot be taken stops the run before its device is opened, saying why; a run
// that finds no Ostrel while another run holds the lock of one (off USB for its mode switch)
// says so; without such a lock, no Ostrel is found. None of them opens a device, not even one
// that comes back to USB later. A lock file is made readable by all whatever the umask.
TEST(DeviceLock, ARunThatCannotLockOrFindsNoDeviceOpensNone) {
    unsetenv("OSTREL_DEVICE");
    const std::string& dir = ostrel::testing::lock_directory();
    const std::string file = dir + "/ostrel_firmware_update-1209-usb-87-1.lock";
    const std::string other = dir + "/ostrel_firmware_update-1209-usb-87-2.lock";
    const std::string cannot_lock =
        "Could not take the lock that keeps other runs off this Ostrel: " + file +
        "\nThe lock file ";
    const std::string busy_off_usb = "Another ostrel_firmware_update is working on ";
    const std::string off_usb =
        ", which is off USB at the moment (switching modes): wait for it "
        "to end, then try again (lock file ";
    struct row {
        std::vector<std::string> args;
        int (*plant)(const std::string& file, const std::string& other);  // a descriptor held
        bool attached;
        std::string err;
    };
    const row rows[] = {
        {{"-v"},
         [](const std::string& f, const std::string&) {  // to a file that could be locked
             ostrel::testing::write_file(f + ".planted", "");
             return symlink((f + ".planted").c_str(), f.c_str());
         },
         true,
         cannot_lock + "is a symbolic link, which is never followed: remove it (as root) and try "
                       "again. Nothing was sent to the Ostrel.\n"},
        {{"-b"},
         [](const std::string& f, const std::string&) { return mkdir(f.c_str(), 0755); },
         true,
         cannot_lock + "is not a regular file: remove it (as root) and try again. Nothing was sent "
                       "to the Ostrel.\n"},
        {{"-r"}, another_runs_lock, false, busy_off_usb + "an Ostrel" + off_usb + other + ")\n"},
        {{"-v", "-d", "87-2"},
         another_runs_lock,
         false,
         busy_off_usb + "the Ostrel 87-2 given with -d" + off_usb + other + ")\n"},
        {{"-v"},
         [](const std::string&, const std::string&) { return -1; },
         false,
         "could not connect to ostrel\n" + ostrel::testing::no_device_advice},
    };
    for (const row& r : rows) {
        std::filesystem::remove_all(file);
        attach(0, "87-1", "", false);
        auto& dev = inprocess_device::at(0);
        if (!r.attached) {
            // Off USB for a mode switch, back in its application mode 20 ms later.
            sim::leave_usb(dev.state(), dev.now_ns(), usb_mode::application);
        }
        const int held = r.plant(file, other);
        const auto result = ostrel::testing::run_cli(r.args);
        if (held > 0) {
            close(held);
        }
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, r.err);
        EXPECT_TRUE(dev.opens.empty());
    }
    // Through another folder that does not exist, no lock at all.
    setenv("OSTREL_LOCK_DIR", (dir + "/none").c_str(), 1);
    attach(0, "87-1", "", false);
    const auto no_folder = ostrel::testing::run_cli({"-v"});
    setenv("OSTREL_LOCK_DIR", dir.c_str(), 1);
    EXPECT_EQ(no_folder.err,
              "Could not take the lock that keeps other runs off this Ostrel: " + dir +
                  "/none/ostrel_firmware_update-1209-usb-87-1.lock\nThe lock file cannot be made "
                  "(No such file or directory): its folder must let every user make files, as "
                  "/tmp does. Nothing was sent to the Ostrel.\n");
    EXPECT_TRUE(inprocess_device::at(0).opens.empty());
    std::filesystem::remove_all(file);
    const mode_t old_mask = umask(077);
    const auto made = ostrel::testing::run_cli({"-v"});
    umask(old_mask);
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read | std::filesystem::perms::others_read);
}

}  // namespace
