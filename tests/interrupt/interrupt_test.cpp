// Everyday runs of the shipped program: a load and an update interrupted by a signal (the
// request in flight is the last, the advice exact, the next run finishes the job), and the
// inputs only a process and a file system give, which the program must refuse before it
// sends anything.
#include <fcntl.h>
#include <sys/stat.h>

#include "tests/interrupt/sweep.h"

namespace {

using namespace interrupt_test;

const sweep_row interrupts[] = {
    {.name = "LoadStoppedBySigint",
     .hex = 0x800,
     .faults = {"kill:boot/P@2=2"},
     .advice = "The load was interrupted at 50 % (1024 of 2048 bytes): the Ostrel waits in its "
               "bootloader with an incomplete application. Run the same -f again to load it "
               "whole.",
     .from_app = true},
    // Killed outright as the device takes the third page: the progress of the two pages done
    // has reached the pipe.
    {.name = "LoadKilledHasPrintedEachPageDone",
     .hex = 0x800,
     .faults = {"kill:boot/P@3"},
     .printed = "Firmware progress: 0%\nFirmware progress: 25%\n",
     .from_app = true},
    {.name = "UpdateStoppedBySigtermLeavesTheOldBanks",
     .faults = {"kill:app/A@100=15"},
     .advice = "The update was interrupted. Config: old copy valid; firmware: old copy valid; esm "
               "region: unchanged. Run the same -u again to finish the update.",
     .banks_after = 0x05},
    // Ctrl-C as the device takes the new config bank's trailer: the bank's check and the old
    // bank's invalidation still go out, then the run stops.
    {.name = "UpdateStoppedAtATrailerSwitchesThePairFirst",
     .faults = {"kill:app/A@1025=2"},
     .advice = "The update was interrupted. Config: new copy valid; firmware: old copy valid; esm "
               "region: unchanged. Run the same -u again to finish the update.",
     .banks_after = 0x06},
    // Killed between the new config bank's check and the invalidation of the old one: both
    // config banks claim to be valid, each holding a whole copy.
    {.name = "UpdateKilledBeforeTheOldBankIsInvalidated",
     .faults = {"kill:app/K@8"},
     .banks_after = 0x07},
};

class Interrupt : public ::testing::TestWithParam<sweep_row> {};

TEST_P(Interrupt, EndsAsTheSignalSaysAndTheNextRunFinishesTheJob) {
    sweeper(GetParam()).run();
}

INSTANTIATE_TEST_SUITE_P(Signal, Interrupt, ::testing::ValuesIn(interrupts),
                         [](const auto& info) { return std::string(info.param.name); });

std::string unreadable(const std::string& dir) {
    write_file(dir + "/unreadable", "x");
    chmod((dir + "/unreadable").c_str(), 0);
    return dir + "/unreadable";
}

std::string fifo(const std::string& dir) {  // without a writer: opening it would wait
    mkfifo((dir + "/fifo").c_str(), 0666);
    return dir + "/fifo";
}

// A pipe that holds a Fullrom image and whose writing end is closed, as the shell's process
// substitution gives one: /dev/fd/N of its reading end, which the program inherits.
std::string pipe_with_an_image(const std::string&) {
    const bytes image = sim::make_fullrom_image(42, "VXR NEW");
    int ends[2];
    if (pipe(ends) != 0 || fcntl(ends[1], F_SETPIPE_SZ, 1 << 20) < 0 ||
        write(ends[1], image.data(), image.size()) != static_cast<ssize_t>(image.size())) {
        throw std::runtime_error("cannot make a pipe of 1 MiB");
    }
    close(ends[1]);
    return "/dev/fd/" + std::to_string(ends[0]);
}

struct bad_input {
    const char* name;
    std::string (*make)(const std::string& dir);  // the input, made in `dir`
    const char* options = "fu";                   // -f, -u
    const char* reason = nullptr;  // a text of the message; nullptr: the file cannot be opened
    friend void PrintTo(const bad_input& in, std::ostream* out) { *out << in.name; }
};

// (A missing file is one of the -f and -u outcomes, tests/app/outcome_test.cpp.)
const bad_input catalogue[] = {
    {"Unreadable", unreadable},
    {"Directory", [](const std::string& dir) { return dir; }},
    {"Fifo", fifo},
    {"EndlessDevice", [](const std::string&) { return std::string("/dev/zero"); }},
    {"NameTooLong", [](const std::string&) { return std::string(100'000, 'x'); }},
    {"Pipe", pipe_with_an_image, "u"},  // a whole image, but not a regular file: not read
    {"HexFile",
     [](const std::string& dir) {
         write_file(dir + "/hex", hex_file(0x404000, bytes(0x7C000)));
         return dir + "/hex";
     },
     "u", "not a Fullrom image: the file is text"},
};

class BadInput : public ::testing::TestWithParam<bad_input> {};

TEST_P(BadInput, EndsWithStatusOneAMessageAndNoRequest) {
    const bad_input& input = GetParam();
    for (const char option : std::string(input.options)) {
        const bool hex = option == 'f';
        SCOPED_TRACE(hex ? "-f" : "-u");
        device dev(true);
        dev.reset({});
        const std::string path = input.make(dev.path());
        std::vector<std::string> args{sim_path,          "run", dev.path(), "--", program_path,
                                      hex ? "-f" : "-u", path};
        if (input.make == unreadable && geteuid() == 0) {
            // Run as the user nobody, who must reach the device's files but not the input.
            chmod(dev.path().c_str(), 0777);
            chmod(sim::state_file::state_path(dev.path()).c_str(), 0666);
            args.insert(args.begin(),
                        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        }
        const process_result result = run_process(args, 20);
        const std::string reason = input.reason != nullptr ? input.reason
                                   : hex                   ? "Could not open hex file: " + path
                                                           : "Could not open file";
        EXPECT_EQ(result.status, 1);
        EXPECT_NE((result.out + result.err).find(reason), std::string::npos)
            << result.out << result.err;
        EXPECT_TRUE(ends_with_failure(
            result.err, hex ? "Firmware load failed." : "VXR firmware update failed."))
            << result.err;
        EXPECT_TRUE(dev.log().empty());
        EXPECT_EQ(dev.state().mode, sim::usb_mode::application);
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, BadInput, ::testing::ValuesIn(catalogue),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
