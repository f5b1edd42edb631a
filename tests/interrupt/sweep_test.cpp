// The interruption sweeps (label "sweep"): each fault at each telling point of a load or an
// update, and after each a run that must finish the job.
#include "tests/interrupt/sweep.h"

namespace {

using interrupt_test::sweep_row;

const std::vector<std::string> kill{"kill@#"};
// the reader of the output gone (| head), and the terminal closed
const std::vector<std::string> output_lost{"kill@#=13", "kill@#=1"};
const std::vector<std::string> load_faults{"refuse@#", "noreply@#", "unplug=#"};
// and a write or an erase acknowledged but not made, which the update reads back
const std::vector<std::string> update_faults{"refuse@#", "noreply@#", "acknowrite@#", "unplug=#"};
// SIGINT, SIGTERM, SIGKILL, the cable pulled, a refusal, a chunk acknowledged but not written
const std::vector<std::string> any{"kill@#=2", "kill@#=15", "kill@#",
                                   "unplug=#", "refuse@#",  "acknowrite:app/A@#"};

const sweep_row sweeps[] = {
    // -f killed around every erase, page program and mode switch of 33 pages (the last one
    // padded); around the three erase modes of a large image (sector, 16 KiB, tail), and
    // the fallback erase after a refused one.
    {.name = "LoadKilledAtEveryPage", .hex = 0x4107, .faults = kill},
    {.name = "LoadKilledAtSwitch", .hex = 0x4107, .faults = kill, .around = "B", .from_app = true},
    {.name = "LoadKilledAtEachEraseMode", .hex = 0x20001, .faults = kill, .around = "e"},
    {.name = "LoadKilledAtFallbackErase",
     .hex = 0x20001,
     .faults = kill,
     .around = "e\"",
     .setup = "refuse:boot/e@2"},
    // -f and -u with their output lost or the user gone, at every page and every status and
    // checksum query: the job is finished all the same.
    {.name = "LoadOutputLostAtEveryPage", .hex = 0x1107, .faults = output_lost},
    {.name = "UpdateOutputLost", .faults = output_lost, .around = "KT", .data_step = 1024},
    // -f in process: the device faulted around every page of 65, and each erase mode.
    {.name = "LoadFaultedAtEveryPage", .hex = 0x8107, .faults = load_faults, .from_app = true},
    {.name = "LoadFaultedAtEachEraseMode", .hex = 0x20001, .faults = load_faults, .around = "e"},
    // -u in process from both starting states: at every request but most data chunks.
    {.name = "UpdateFaultedFromBanks05", .faults = update_faults, .data_step = 64},
    {.name = "UpdateFaultedFromBanks0A", .faults = update_faults, .data_step = 64, .banks = 0x0A},
    // -u killed around each status and checksum query and at some data chunks.
    {.name = "UpdateKilledFromBanks05", .faults = kill, .around = "KT", .data_step = 512},
    {.name = "UpdateKilledFromBanks0A",
     .faults = kill,
     .around = "KT",
     .data_step = 512,
     .banks = 0x0A},
    // -u interrupted two and three times in a row, from each pair holding one old bank and
    // from pairs whose banks both claim to be valid, by signals, the cable, a refusal and a
    // chunk acknowledged but not written; then a plain run.
    {.name = "UpdateInterruptedTwiceFromBanks05", .faults = any, .chain = 2, .samples = 40},
    {.name = "UpdateInterruptedTwiceFromBanks0A",
     .faults = any,
     .banks = 0x0A,
     .chain = 2,
     .samples = 40},
    {.name = "UpdateInterruptedTwiceFromBanks07",
     .faults = any,
     .banks = 0x07,
     .chain = 2,
     .samples = 40},
    {.name = "UpdateInterruptedTwiceFromBanks0F",
     .faults = any,
     .banks = 0x0F,
     .chain = 2,
     .samples = 40},
    {.name = "UpdateInterruptedThriceFromBanks05", .faults = any, .chain = 3, .samples = 30},
    {.name = "UpdateInterruptedThriceFromBanks0A",
     .faults = any,
     .banks = 0x0A,
     .chain = 3,
     .samples = 30},
};

class Sweep : public ::testing::TestWithParam<sweep_row> {};

TEST_P(Sweep, EachFaultIsToldOrHarmlessAndTheNextRunFinishesTheJob) {
    interrupt_test::sweeper(GetParam()).run();
}

INSTANTIATE_TEST_SUITE_P(Interruption, Sweep, ::testing::ValuesIn(sweeps),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
