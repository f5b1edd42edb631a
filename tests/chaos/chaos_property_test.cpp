// The chaos properties for every task and every seed: the program ends within the limits
// of what it sent and spins nowhere, it sends only requests of the known layouts into the
// flash areas, it claims success only for work the device really did (blind spots aside),
// and a run without faults afterwards finishes the job.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <iostream>

#include "tests/chaos/chaos_run.h"

#ifndef OSTREL_CHAOS_SEEDS_FROM_ENV
#define OSTREL_CHAOS_SEEDS_FROM_ENV 0
#endif

namespace {

using chaos_test::figures;

figures& totals() {
    static figures all;
    return all;
}

std::uint32_t seeds() {
    return chaos_test::seeds_per_task(OSTREL_CHAOS_DEFAULT_SEEDS, OSTREL_CHAOS_SEEDS_FROM_ENV != 0);
}

// Prints the figures of the whole process once every task has run.
class report_figures : public ::testing::Environment {
  public:
    void SetUp() override { start_ = std::chrono::steady_clock::now(); }
    void TearDown() override {
        const auto seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::cout << "[chaos] " << seeds() << " seeds per task, " << totals().line() << "; "
                  << seconds << " s\n[chaos] behaviours: " << totals().behaviours() << "\n";
    }

  private:
    std::chrono::steady_clock::time_point start_;
};

[[maybe_unused]] const auto* const registered =
    ::testing::AddGlobalTestEnvironment(new report_figures);

class ChaosProperties : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ChaosProperties, HoldForEverySeed) {
    const chaos_test::task& task = chaos_test::all_tasks()[GetParam()];
    figures these;
    int failed_seeds = 0;
    // OSTREL_CHAOS_SEED=N replays seed N alone, as a failure names it.
    const char* only = std::getenv("OSTREL_CHAOS_SEED");
    const std::uint32_t first =
        only != nullptr ? static_cast<std::uint32_t>(std::strtoul(only, nullptr, 10)) : 1;
    const std::uint32_t last = only != nullptr ? first : seeds();
    for (std::uint32_t seed = first; seed <= last && failed_seeds < 5; ++seed) {
        const auto outcome = chaos_test::run_chaos(task, GetParam(), seed);
        these.add(outcome);
        totals().add(outcome);
        if (outcome.excused && std::getenv("OSTREL_CHAOS_VERBOSE") != nullptr) {
            std::cout << "[chaos] blind spot: " << outcome.replay << ": " << outcome.unconfirmed[0]
                      << "\n";
        }
        if (!outcome.violations.empty()) {
            ++failed_seeds;
            std::string all;
            for (const std::string& v : outcome.violations) {
                all += "\n  " + v;
            }
            ADD_FAILURE() << outcome.replay << all;
        }
    }
    std::cout << "[chaos] " << task.name << ": " << these.line() << "\n";
}

INSTANTIATE_TEST_SUITE_P(EveryTask, ChaosProperties,
                         ::testing::Range<std::size_t>(0, chaos_test::all_tasks().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             std::string name;
                             for (const char c : chaos_test::all_tasks()[info.param].name) {
                                 if (std::isalpha(static_cast<unsigned char>(c)) != 0) {
                                     name += c;
                                 }
                             }
                             return name;
                         });

}  // namespace
