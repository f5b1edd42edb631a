#pragma once

// One chaos run: the program's command line in process against a virtual device armed with
// chaos=SEED, checked for the four properties, then a run without faults that must bring
// the device to what the command asked for.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace chaos_test {

// A command line to run, "HEX" and "FULLROM" standing for the files of the run.
struct task {
    std::string name;
    std::vector<std::string> args;
    // The command that must finish the job afterwards without faults; empty for the
    // version tasks, which leave nothing to repair.
    std::vector<std::string> repair;
};

const std::vector<task>& all_tasks();

// What one seed did to one task.
struct run_outcome {
    std::string replay;  // the fault rule and the command line that replay the run
    std::vector<std::string> violations;
    // Claims the device did not confirm and bank pairs left unsafe, under a blind spot.
    std::vector<std::string> unconfirmed;
    bool claimed = false;   // a success message or status 0 for work the command asked
    bool blind = false;     // the chaos mode made a blind spot (sim/chaos.h)
    bool excused = false;   // `unconfirmed` is not empty
    bool repaired = false;  // the run without faults finished the job
    std::uint64_t requests = 0;
    std::uint64_t disturbed = 0;           // requests the chaos mode did not answer as it should
    std::int64_t elapsed_ns = 0;           // virtual time of the chaos run
    std::array<std::uint32_t, 16> acts{};  // the chaos mode's behaviours, by sim::chaos_act
};

run_outcome run_chaos(const task& t, std::size_t task_index, std::uint32_t seed);

// Seeds per task: the build's default, or OSTREL_CHAOS_SEEDS where the build reads it.
std::uint32_t seeds_per_task(std::uint32_t build_default, bool from_environment);

// Figures over every run of the process, for the report at its end.
struct figures {
    std::uint64_t runs = 0;
    std::uint64_t claimed = 0;
    std::uint64_t blind = 0;
    std::uint64_t excused = 0;
    std::uint64_t repairs = 0;
    std::uint64_t requests = 0;
    std::uint64_t disturbed = 0;
    std::uint64_t deepest = 0;  // most requests in one run
    double virtual_seconds = 0;
    std::array<std::uint64_t, 16> acts{};
    void add(const run_outcome& outcome);
    std::string line() const;
    // The chaos mode's behaviours summed, as "name count" pairs.
    std::string behaviours() const;
};

}  // namespace chaos_test
