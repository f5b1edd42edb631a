#include "bench/job_runner.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <streambuf>

#include "app/tasks.h"
#include "bench/alloc_counter.h"
#include "sim/bridge_flash.h"
#include "sim/hex_image.h"

namespace ostrel_bench {
namespace {

// A stream that formats everything and keeps nothing, like a terminal that is not looked at.
class null_buffer : public std::streambuf {
  protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

bool write_bytes(const std::string& path, const void* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

const std::string& scratch_dir() {
    static const std::string dir = [] {
        char name[] = "/tmp/ostrel_bench_XXXXXX";
        return std::string(mkdtemp(name) != nullptr ? name : "/tmp");
    }();
    return dir;
}

std::string input_file(const char* variable, const char* name, bool hex) {
    if (const char* given = std::getenv(variable); given != nullptr && *given != '\0') {
        return given;
    }
    std::string path = scratch_dir() + "/" + name;
    if (hex) {
        // 0x7C000 pseudo-random bytes at 0x404000, 16 bytes a record as objcopy writes them.
        const std::string text = sim::make_hex_text(0x7C000, 1, 16);
        write_bytes(path, text.data(), text.size());
    } else {
        const auto image = sim::make_fullrom_image(1, "VXR7200 FW 2.0");
        write_bytes(path, image.data(), image.size());
    }
    return path;
}

}  // namespace

const std::string& hex_path() {
    static const std::string path = input_file("OSTREL_BENCH_HEX", "max.hex", true);
    return path;
}

const std::string& fullrom_path() {
    static const std::string path = input_file("OSTREL_BENCH_FULLROM", "image.fullrom", false);
    return path;
}

std::int64_t thread_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

job_result run_job(const std::vector<std::string>& args, const sim::device_options& options) {
    sim::inprocess_device& device = sim::inprocess_device::reset(options);
    device.requests.reserve(40000);  // the log of the stand-in must not allocate on the way
    std::vector<std::string> argv{"ostrel_firmware_update"};
    argv.insert(argv.end(), args.begin(), args.end());
    null_buffer sink;
    std::ostream out(&sink);
    std::ostream err(&sink);

    job_result result;
    const std::uint64_t allocations = ostrel_bench::allocations();
    const std::int64_t start = thread_cpu_ns();
    result.status = ostrel::run_cli(argv, out, err);
    result.cpu_ns = thread_cpu_ns() - start;
    result.allocations = ostrel_bench::allocations() - allocations;
    result.requests = std::move(device.requests);
    return result;
}

std::int64_t model_cpu_ns(const std::vector<sim::request_record>& requests,
                          const sim::device_options& options) {
    static const std::unique_ptr<sim::device_state> state = std::make_unique<sim::device_state>();
    sim::init_state(*state, options);
    const std::int64_t latency_ns = std::int64_t{options.reply_latency_us} * 1000;
    sim::request_record record;
    const std::int64_t start = thread_cpu_ns();
    for (const sim::request_record& r : requests) {
        sim::settle(*state, r.time_ns);
        sim::receive(*state, r.time_ns, r.via, r.bytes, record);
        while (sim::take_input_report(*state, r.time_ns + latency_ns)) {
        }
    }
    return thread_cpu_ns() - start;
}

}  // namespace ostrel_bench
