// The virtual device in its state file, driven by several processes at once.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <future>

#include "sim/model.h"
#include "sim/state_file.h"
#include "tests/support/process.h"

namespace {

using ostrel::testing::process_result;

process_result run_client(const std::string& dir, std::uint64_t rounds, int timeout_s = 60) {
    return ostrel::testing::run_process(
        {ostrel::testing::sim_path, "run", dir, "--", STAND_IN_CLIENT, std::to_string(rounds)},
        timeout_s);
}

TEST(SharedDevice, ProcessesTakeTurnsAndOneKilledMidCallBlocksNoOther) {
    const ostrel::testing::temp_dir dir;
    ASSERT_EQ(ostrel::testing::sim({"init", dir.path()}).status, 0);
    // Killed at an arbitrary point of its calls, most likely while it holds the device.
    EXPECT_EQ(run_client(dir.path(), 0, 1).status, 128 + SIGKILL);
    sim::state_file file;
    std::string error;
    ASSERT_TRUE(file.open(dir.path(), error)) << error;
    const sim::device_state& state = *file.get();
    const std::uint64_t requests = state.requests;
    const std::uint64_t opens = state.opens;

    constexpr std::uint64_t rounds = 20000;
    constexpr std::uint64_t both = 2 * rounds;
    auto first = std::async(std::launch::async, [&] { return run_client(dir.path(), rounds); });
    const process_result second = run_client(dir.path(), rounds);
    EXPECT_EQ(first.get().status, 0);
    EXPECT_EQ(second.status, 0);
    // No update lost, every request logged once and in the order the device took them.
    EXPECT_EQ(state.requests, requests + both);
    EXPECT_EQ(state.opens, opens + both);
    EXPECT_LT(state.queue_count, sim::input_queue_capacity);
    std::ifstream log(sim::state_file::log_path(dir.path()), std::ios::binary);
    sim::request_record record{};
    log.seekg(-static_cast<std::streamoff>(both * sizeof record), std::ios::end);
    for (std::uint64_t sequence = requests + 1; sequence <= requests + both; ++sequence) {
        ASSERT_TRUE(log.read(reinterpret_cast<char*>(&record), sizeof record));
        ASSERT_EQ(record.sequence, sequence);
    }
}

}  // namespace
