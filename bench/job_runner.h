#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/inprocess_device.h"

// Whole jobs of the program (run_cli with -f or -u) against the in-process virtual device,
// with their CPU time and allocations, and the device model's own share of that time.
namespace ostrel_bench {

// The input files of the jobs: a maximum-size HEX image and a Fullrom image. Taken from
// OSTREL_BENCH_HEX and OSTREL_BENCH_FULLROM when set, otherwise written once to a
// temporary directory.
const std::string& hex_path();
const std::string& fullrom_path();

struct job_result {
    int status = -1;
    std::int64_t cpu_ns = 0;        // CPU time of run_cli, this thread
    std::uint64_t allocations = 0;  // operator new calls during run_cli
    std::vector<sim::request_record> requests;
};

// Runs the program with `args` (without the program name) on a fresh virtual device made
// from `options`; output is discarded.
job_result run_job(const std::vector<std::string>& args, const sim::device_options& options);

// CPU time the device model takes for `requests` replayed in order on a fresh device made
// from `options`: receiving each request and handing out its replies.
std::int64_t model_cpu_ns(const std::vector<sim::request_record>& requests,
                          const sim::device_options& options);

std::int64_t thread_cpu_ns();

}  // namespace ostrel_bench
