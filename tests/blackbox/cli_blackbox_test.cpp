// The shipped program, unmodified, against the virtual device through `ostrel_sim run`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ostrel::testing;
using ::testing::HasSubstr;

const std::string usage =
    "Usage: ostrel_firmware_update.exe [-h] [-v] [-r] [-b] [-f filename.hex] [-u "
    "filename.fullrom]\n";

const std::string help = "ostrel_firmware_update\n" + usage +
                         "\n"
                         "Options:\n"
                         "\t-h\tShow this help information and exit\n"
                         "\t-v\tShow the microcontroller firmware version\n"
                         "\t-r\tShow the VXR7200 bridge IC firmware version\n"
                         "\t-b\tShow the bootloader version\n"
                         "\t-f FILENAME\n"
                         "\t\tFlash FILENAME (Intel hex format) to the microcontroller\n"
                         "\t-u FILENAME\n"
                         "\t\tFlash FILENAME (Synaptics Fullrom format) to the VXR7200\n";

class Blackbox : public ::testing::Test {
  protected:
    void init(std::vector<std::string> options = {}) {
        options.insert(options.begin(),
                       {"init", dir.path(), "--reenumeration-ms", "20", "--app-version", "APP 2.1",
                        "--bootloader-version", "BL 0.9", "--bridge-version", "VXR 5.4"});
        ASSERT_EQ(sim(options).status, 0);
    }
    std::string show() { return sim({"show", dir.path()}).out; }

    temp_dir dir;
};

std::string padded(const std::string& text, std::size_t size) {
    return text + std::string(size - text.size(), '\0');
}

TEST_F(Blackbox, UsageAndHelpByteForByteOnStandardOutput) {
    init();
    const auto none = run_program(dir.path(), {});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, usage);
    EXPECT_EQ(none.err, "");

    const auto h = run_program(dir.path(), {"-v", "-h"});
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.out, help);
    EXPECT_EQ(h.err, "");
    EXPECT_THAT(show(), HasSubstr("\"total\": 0"));
}

TEST_F(Blackbox, ThreeVersionLinesWithTheirNulPadding) {
    init();
    const auto result = run_program(dir.path(), {"-b", "-v", "-r"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "application version: " + padded("APP 2.1", 64) + "\n" +
                              "VXR7200 firmware version: " + padded("VXR 5.4", 64) + "\n" +
                              "bootloader version: " + padded("BL 0.9", 65) + "\n");
    // -b ran last and left the device in its bootloader.
    EXPECT_THAT(show(), HasSubstr("\"mode\": \"bootloader\""));
    const auto log = sim({"log", dir.path()}).out;
    EXPECT_EQ(log,
              "1 application feature *\n2 application feature N\n3 application feature B\n"
              "4 bootloader output *\n");
}

TEST_F(Blackbox, DeviceWithoutAccessRightsIsExplained) {
    init();
    ASSERT_EQ(sim({"fault", dir.path(), "denied"}).status, 0);
    const auto result = run_program(dir.path(), {"-v"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "could not connect to ostrel\n"
              "The Ostrel is connected but cannot be opened: check the access rights to its "
              "hidraw device (udev rule 70-ostrel.rules, see ostrel_firmware_update(1))\n");
}

TEST_F(Blackbox, StateSurvivesTheProgramBeingKilled) {
    init();
    ASSERT_EQ(sim({"fault", dir.path(), "noreturn"}).status, 0);
    // -b waits up to 15 s for a bootloader that never comes; kill it long before.
    const auto result = run_program(dir.path(), {"-b"}, 1);
    EXPECT_TRUE(result.timed_out);
    EXPECT_EQ(result.status, 128 + SIGKILL);
    const std::string state = show();
    EXPECT_THAT(state, HasSubstr("\"mode\": \"absent\""));
    EXPECT_THAT(state, HasSubstr("\"application\": {\"B\": 1}"));
    EXPECT_THAT(state, HasSubstr("\"faults\": [\"noreturn\"]"));
}

TEST_F(Blackbox, SimulatorRejectsBadCommandLinesWithUsage) {
    init();
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"fault", dir.path(), "explode"},
                                               {"init", dir.path(), "--mode", "sideways"},
                                               {"init", dir.path(), "--bank-status", "256"},
                                               {"run", dir.path(), "ostrel_firmware_update"},
                                               {"frobnicate", dir.path()}}) {
        const auto result = sim(args);
        EXPECT_EQ(result.status, 2) << args[0];
        EXPECT_THAT(result.err, HasSubstr("usage: ostrel_sim")) << args[0];
    }
    const auto missing = sim({"show", dir.file("nothing-here")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("no virtual device"));
}

TEST_F(Blackbox, SimulatorGeneratesImagesOtherToolsRead) {
    ASSERT_EQ(sim({"hex", dir.file("fw.hex"), "--size", "1000", "--seed", "3"}).status, 0);
    const auto objcopy = run_process(
        {"objcopy", "-I", "ihex", "-O", "binary", dir.file("fw.hex"), dir.file("fw.bin")});
    if (objcopy.status == 127) {
        GTEST_SKIP() << "objcopy is not installed";
    }
    ASSERT_EQ(objcopy.status, 0) << objcopy.err;
    EXPECT_EQ(read_bytes(dir.file("fw.bin")).size(), 1000u);

    ASSERT_EQ(sim({"fullrom", dir.file("a.fullrom"), "--bridge-version", "X 1"}).status, 0);
    EXPECT_EQ(read_bytes(dir.file("a.fullrom")).size(), 0x80000u);
    EXPECT_EQ(sim({"hex", dir.file("x.hex"), "--size", "lots"}).status, 2);
}

// The shipped program with `args` on a pseudo-terminal: all it wrote there, and its status.
process_result run_on_terminal(const std::string& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv{sim_path, "run", dir, "--", program_path};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (std::string& arg : argv) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    process_result result;
    char buffer[4096];
    for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;) {
        result.out.append(buffer, static_cast<std::size_t>(got));
    }
    close(terminal);
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// On a terminal -f and -u each draw one line redrawn in place that ends at 100 % before the
// final message, and each wait for the device after a mode switch is announced once.
TEST_F(Blackbox, OnATerminalProgressIsOneLineRedrawnInPlace) {
    init();
    ASSERT_EQ(sim({"hex", dir.file("fw.hex"), "--size", "0x20000"}).status, 0);
    ASSERT_EQ(sim({"fullrom", dir.file("new.fullrom")}).status, 0);
    const auto result =
        run_on_terminal(dir.path(), {"-f", dir.file("fw.hex"), "-u", dir.file("new.fullrom")});
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

}  // namespace
