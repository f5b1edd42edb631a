// The host's share of an update, against the in-process virtual device (zero latency,
// virtual clock): CPU time and heap allocations per request of a whole -f and a whole -u,
// allocations per chunk on the write paths, the HEX reader in process, and sum_bytes.
// After the benchmarks, each figure is printed beside its goal.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <numeric>
#include <random>
#include <string>

#include "bench/alloc_counter.h"
#include "bench/job_runner.h"
#include "device/device_link.h"
#include "mcu/flash_update.h"
#include "mcu/hex_reader.h"
#include "vxr/flash_map.h"
#include "vxr/flash_operations.h"
#include "vxr/fullrom.h"
#include "vxr/update.h"

namespace {

using ostrel_bench::job_result;

// Figures kept from the last run of each benchmark, for the summary.
std::map<std::string, double>& figures() {
    static std::map<std::string, double> table;
    return table;
}

sim::device_options options_in(sim::usb_mode mode) {
    sim::device_options options;
    options.mode = mode;
    return options;
}

// A whole job, repeated: host CPU per request is the job's CPU time less the device
// model's, divided by the requests the device received.
void whole_job(benchmark::State& state, const std::string& name,
               const std::vector<std::string>& args) {
    const sim::device_options options = options_in(sim::usb_mode::application);
    double cpu_ns = 0;
    double model_ns = 0;
    double allocations = 0;
    double requests = 0;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        const job_result job = ostrel_bench::run_job(args, options);
        state.PauseTiming();
        if (job.status != 0) {
            state.SkipWithError("the job failed");
            break;
        }
        cpu_ns += static_cast<double>(job.cpu_ns);
        model_ns += static_cast<double>(ostrel_bench::model_cpu_ns(job.requests, options));
        allocations += static_cast<double>(job.allocations);
        requests += static_cast<double>(job.requests.size());
        state.ResumeTiming();
    }
    if (requests == 0) {
        return;
    }
    const double iterations = static_cast<double>(state.iterations());
    const double host_us = (cpu_ns - model_ns) / requests / 1000;
    state.counters["requests"] = requests / iterations;
    state.counters["cpu_us_per_req"] = cpu_ns / requests / 1000;
    state.counters["model_us_per_req"] = model_ns / requests / 1000;
    state.counters["host_us_per_req"] = host_us;
    state.counters["allocs_per_job"] = allocations / iterations;
    state.counters["allocs_per_req"] = allocations / requests;
    figures()[name + " requests"] = requests / iterations;
    figures()[name + " cpu_us"] = cpu_ns / requests / 1000;
    figures()[name + " model_us"] = model_ns / requests / 1000;
    figures()[name + " host_us"] = host_us;
    figures()[name + " allocs_per_job"] = allocations / iterations;
    figures()[name + " allocs_per_req"] = allocations / requests;
}

void BM_FirmwareJob(benchmark::State& state) {
    whole_job(state, "-f", {"-f", ostrel_bench::hex_path()});
}
BENCHMARK(BM_FirmwareJob)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_BridgeUpdateJob(benchmark::State& state) {
    whole_job(state, "-u", {"-u", ostrel_bench::fullrom_path()});
}
BENCHMARK(BM_BridgeUpdateJob)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Allocations on the write paths: between two progress calls with exactly one chunk sent
// in between ('A' for the bridge; for the firmware, whose progress comes per page, the
// interval is a page: 16 'D' and a 'P'), and in all the other intervals (stage changes).
void steady_allocations(benchmark::State& state, const std::string& name, bool firmware) {
    double in_chunks = 0;
    double chunks = 0;
    double elsewhere = 0;
    const std::size_t requests_per_interval = firmware ? 17 : 1;
    const std::size_t chunks_per_interval = firmware ? 16 : 1;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        state.PauseTiming();
        sim::inprocess_device& dev = sim::inprocess_device::reset(
            options_in(firmware ? sim::usb_mode::bootloader : sim::usb_mode::application));
        dev.requests.reserve(40000);
        ostrel::device_link device;
        const bool connected =
            static_cast<bool>(firmware ? device.connect_bootloader() : device.connect_app());
        std::uint64_t last_allocations = 0;
        std::size_t last_requests = 0;
        bool started = false;
        const auto progress = [&](double) {
            const std::uint64_t allocations = ostrel_bench::allocations();
            const std::size_t requests = dev.requests.size();
            if (started) {
                const auto made = static_cast<double>(allocations - last_allocations);
                if (requests - last_requests == requests_per_interval) {
                    in_chunks += made;
                    chunks += static_cast<double>(chunks_per_interval);
                } else {
                    elsewhere += made;
                }
            }
            started = true;
            last_allocations = ostrel_bench::allocations();  // the bookkeeping's own excluded
            last_requests = requests;
        };
        state.ResumeTiming();
        bool ok = connected;
        if (ok && firmware) {
            ostrel::mcu_load_report report;
            const auto image = ostrel::read_mcu_image(ostrel_bench::hex_path(), report);
            ok = image && ostrel::mcu_flash_update(device, *image, progress, report);
        } else if (ok) {
            ostrel::vxr::update_report report;
            const auto image =
                ostrel::read_input(ostrel_bench::fullrom_path(), ostrel::vxr::fullrom_file_limit);
            ok = image && ostrel::vxr::flash_update(device, *image, progress, report);
        }
        if (!ok) {
            state.SkipWithError("the load failed");
            break;
        }
    }
    if (chunks > 0) {
        const double iterations = static_cast<double>(state.iterations());
        state.counters["chunks"] = chunks / iterations;
        state.counters["allocs_per_chunk"] = in_chunks / chunks;
        state.counters["allocs_between_stages"] = elsewhere / iterations;
        figures()[name + " allocs_per_chunk"] = in_chunks / chunks;
        figures()[name + " allocs_between_stages"] = elsewhere / iterations;
    }
}

void BM_FirmwarePagesSteady(benchmark::State& state) {
    steady_allocations(state, "-f", true);
}
BENCHMARK(BM_FirmwarePagesSteady)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BridgeWritesSteady(benchmark::State& state) {
    steady_allocations(state, "-u", false);
}
BENCHMARK(BM_BridgeWritesSteady)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadIntelHex(benchmark::State& state) {
    std::size_t bytes = 0;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        ostrel::hex_image image;
        ostrel::hex_read_error error;
        if (!ostrel::read_intel_hex(image, ostrel_bench::hex_path(), error)) {
            state.SkipWithError("the HEX file was refused");
            break;
        }
        bytes = image.data.size();
        benchmark::DoNotOptimize(image.data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_ReadIntelHex)->Unit(benchmark::kMillisecond);

// The three regions of a Fullrom image whose sums -u compares: config, firmware, esm.
const std::vector<std::uint8_t>& region_bytes() {
    static const std::vector<std::uint8_t> image = [] {
        std::vector<std::uint8_t> bytes(ostrel::vxr::fullrom_image_size);
        std::mt19937 random(7);
        for (std::uint8_t& b : bytes) {
            b = static_cast<std::uint8_t>(random());
        }
        return bytes;
    }();
    return image;
}

void BM_SumBytes(benchmark::State& state) {
    const std::uint8_t* image = region_bytes().data();
    const std::pair<std::uint32_t, std::uint32_t> regions[] = {
        {ostrel::vxr::config_bank0_start, ostrel::vxr::config_size},
        {ostrel::vxr::fw_bank0_start, ostrel::vxr::fw_size},
        {ostrel::vxr::esm_start, ostrel::vxr::esm_size}};
    std::int64_t bytes = 0;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        for (const auto& [start, size] : regions) {
            benchmark::DoNotOptimize(ostrel::vxr::sum_bytes(image + start, image + start + size));
            bytes += size;
        }
    }
    state.SetBytesProcessed(bytes);
}

BENCHMARK(BM_SumBytes)->Unit(benchmark::kMicrosecond);

// Keeps the CPU time of each run (steadier than wall time on a shared machine), so that the
// summary can print it.
class summary_reporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred) {
                figures()["time_us " + run.benchmark_name()] =
                    run.GetAdjustedCPUTime() * (run.time_unit == benchmark::kMillisecond   ? 1000.0
                                                : run.time_unit == benchmark::kMicrosecond ? 1.0
                                                                                           : 0.001);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

double figure(const std::string& name) {
    const auto it = figures().find(name);
    return it == figures().end() ? -1 : it->second;
}

void print_summary() {
    std::printf("\n== host cost against the in-process virtual device (zero latency) ==\n");
    for (const char* job : {"-f", "-u"}) {
        const std::string j = job;
        std::printf(
            "%s: %.0f requests; CPU per request %.2f us = host %.2f us + device model "
            "%.2f us    goal: host < 5 us: %s\n",
            job, figure(j + " requests"), figure(j + " cpu_us"), figure(j + " host_us"),
            figure(j + " model_us"), figure(j + " host_us") < 5 ? "met" : "NOT met");
        std::printf(
            "%s: allocations %.0f per job (%.4f per request), %.2f per chunk, %.0f "
            "between stages    goal: none per chunk: %s\n",
            job, figure(j + " allocs_per_job"), figure(j + " allocs_per_req"),
            figure(j + " allocs_per_chunk"), figure(j + " allocs_between_stages"),
            figure(j + " allocs_per_chunk") == 0 ? "met" : "NOT met");
    }
    const double sum_us = figure("time_us BM_SumBytes");
    const double kilobytes =
        (ostrel::vxr::config_size + ostrel::vxr::fw_size + ostrel::vxr::esm_size) / 1000.0;
    std::printf("sum_bytes over the three regions (384 KiB): %.1f us, %.1f GB/s\n", sum_us,
                kilobytes / sum_us);
    std::printf("HEX reader in process: %.2f ms CPU per maximum-size file\n",
                figure("time_us BM_ReadIntelHex") / 1000);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    summary_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    print_summary();
    return 0;
}
