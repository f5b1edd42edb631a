// The `kill` fault of the virtual device as a test station uses it, and one kill of each
// load at a telling point; the full sweeps are in the "sweep" label.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/bridge_flash.h"
#include "tests/interrupt/bridge_check.h"
#include "tests/interrupt/device_dir.h"
#include "tests/mcu/hex_writer.h"

namespace {

using namespace interrupt_test;
using ostrel::testing::sim;
using ::testing::EndsWith;
using ::testing::HasSubstr;

TEST(KillFault, RuleReadsBackAsWritten) {
    for (const char* text :
         {"kill", "kill@5", "kill:boot/P@2", "kill:app/A@1025", "kill:boot/P@10=2"}) {
        std::string error;
        const auto rule = sim::parse_fault_rule(text, error);
        ASSERT_TRUE(rule) << error;
        EXPECT_EQ(rule->kind, sim::fault_kind::kill);
        EXPECT_EQ(sim::format_fault_rule(*rule), text);
    }
}

TEST(KillFault, ProgramDiesRightAfterTheDeviceTookTheRequestAndTheDeviceLivesOn) {
    // The rule, and the status of the program it ends: SIGKILL by default, else the signal
    // it names (SIGUSR1, which the program leaves at its default: the end of the process).
    for (const auto& [rule, status] :
         {std::pair{"kill:boot/P@2", killed_status}, std::pair{"kill:boot/P@2=10", 128 + 10}}) {
        SCOPED_TRACE(rule);
        device_dir dev;
        const bytes image = ostrel::testing::random_bytes(0x800, 3);  // four pages
        const std::string path = dev.file("image.hex");
        ostrel::testing::write_file(path, ostrel::testing::hex_file(0x404000, image, 32));
        dev.reset({.mode = sim::usb_mode::bootloader, .reenumeration_ms = 20});
        ASSERT_EQ(sim({"fault", dev.path(), rule}).status, 0);

        const auto killed = dev.run({"-f", path});
        EXPECT_EQ(killed.status, status);
        EXPECT_EQ(killed.out, "Loading firmware file: " + path + "\nFirmware progress: 0%\n");
        // The second 'P' is the last request the device took, and the rule is spent.
        EXPECT_THAT(sim({"log", dev.path()}).out, EndsWith("P address=0x404200 crc=ok\n"));
        EXPECT_EQ(sim({"fault", dev.path(), "list"}).out, "");
        EXPECT_THAT(sim({"show", dev.path()}).out, HasSubstr("\"mode\": \"bootloader\""));

        const auto second = dev.run({"-f", path});
        EXPECT_EQ(second.status, 0) << second.err;
        EXPECT_TRUE(dev.mcu_holds(image));
    }
}

// Killed between the new config copy and the invalidation of the old one: both config banks
// claim to be valid, and the next run must start both pairs afresh.
TEST(KillFault, BridgeUpdateKilledBeforeTheOldBankIsInvalidatedIsCompletedByTheNextRun) {
    device_dir dev;
    const bytes new_image = sim::make_fullrom_image(42, "VXR NEW");
    const std::string path = dev.file("new.fullrom");
    ostrel::testing::write_file(path, new_image);
    dev.reset({.reenumeration_ms = 20}, {},
              with_valid_banks(sim::make_fullrom_image(41, "VXR OLD"), 0x05));
    // Three checksums for the task's decision and three for the update's, config bank 1
    // written, then the checksum that confirms it: the program dies before anything is
    // invalidated.
    dev.arm("kill:app/K@7");

    EXPECT_EQ(dev.run({"-u", path}).status, killed_status);
    EXPECT_EQ(dev.state().bank_status, 0x07);

    const auto second = dev.run({"-u", path});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_THAT(second.out, EndsWith("VXR firmware update complete!\n"));
    EXPECT_TRUE(bridge_runs(dev.state(), new_image));
}

// Ctrl-C (SIGINT) during a load and SIGTERM during an update: the request in flight is
// finished, none follows, the line after the failure says where the device stands, the
// process ends by the signal, and the next run completes the job.
TEST(KillFault, InterruptedJobStopsBetweenRequestsAndTheNextRunCompletesIt) {
    const bytes firmware = ostrel::testing::random_bytes(0x800, 3);  // four pages
    const bytes new_image = sim::make_fullrom_image(42, "VXR NEW");
    struct job {
        const char* option;
        const char* rule;
        int signal_number;
        const char* last_request;  // what the device logged last: the request in flight
        const char* advice;
    };
    for (const job& j :
         {job{"-f", "kill:boot/P@2=2", 2, " P address=0x404200 crc=ok",
              "The load was interrupted at 50 % (1024 of 2048 bytes): the Ostrel waits in its "
              "bootloader with an incomplete application. Run the same -f again to load it "
              "whole.\n"},
          job{"-u", "kill:app/A@100=15", 15, " A count=32 address=0x20C60 ",
              "The update was interrupted: the bridge still starts from its old banks. Run the "
              "same -u again to finish the update.\n"}}) {
        SCOPED_TRACE(j.rule);
        device_dir dev;
        const bool mcu = std::string(j.option) == "-f";
        const std::string path = dev.file(mcu ? "image.hex" : "new.fullrom");
        if (mcu) {
            ostrel::testing::write_file(path, ostrel::testing::hex_file(0x404000, firmware, 32));
        } else {
            ostrel::testing::write_file(path, new_image);
        }
        dev.reset({.reenumeration_ms = 20}, {},
                  with_valid_banks(sim::make_fullrom_image(41, "VXR OLD"), 0x05));
        ASSERT_EQ(sim({"fault", dev.path(), j.rule}).status, 0);

        const auto stopped = dev.run({j.option, path});
        EXPECT_EQ(stopped.status, 128 + j.signal_number);
        EXPECT_THAT(stopped.err, EndsWith(std::string(mcu ? "Firmware load failed.\n"
                                                          : "VXR firmware update failed.\n") +
                                          j.advice));
        const std::string log = sim({"log", dev.path()}).out;
        EXPECT_THAT(log.substr(log.rfind('\n', log.size() - 2) + 1), HasSubstr(j.last_request));
        if (!mcu) {
            EXPECT_EQ(dev.state().bank_status, 0x05);  // the old banks untouched
        }

        const auto next = dev.run({j.option, path});
        EXPECT_EQ(next.status, 0) << next.err;
        EXPECT_TRUE(mcu ? dev.mcu_holds(firmware) : bridge_runs(dev.state(), new_image));
    }
}

}  // namespace
