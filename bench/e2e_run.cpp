// ostrel_e2e LABEL DIR LATENCY_US REENUMERATION_MS -- COMMAND [ARG...]
//
// Runs COMMAND (`ostrel_sim run DIR -- ostrel_firmware_update ...`) once, its output
// discarded, and sets its wall time against the floor that the protocol sets, from the
// requests the virtual device in DIR logged (with their times) during the run:
//
//   a request whose reply the program waits for             latency
//   a page: its 'D' chunks go out without waiting; the drain
//     before 'P' waits for the last chunk's reply, then makes
//     one more read that must time out after 1 ms           latency + 1 ms
//   a mode switch ('B' followed by more requests): the device
//     comes back after REENUMERATION_MS and the program looks
//     for it every 250 ms                                    ceil(R / 250) x 250 ms (>= 250)
//   the last 'B' (start the application), program start,
//     reading files, exit                                    nothing
//
// It then says where the time above the floor went, transition by transition, and sets it
// against what the operating system takes by itself for the same waits, measured here: a
// sleep until a reply is due, without timer slack (as the stand-in waits for a report),
// and a 1 ms time-out with the default slack (as poll() times out).
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "sim/model.h"

namespace {

constexpr std::int64_t ms = 1'000'000;

std::int64_t now_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// How late an absolute sleep of `wait_ns` ends, median of `rounds`, in ns.
double sleep_lateness(std::int64_t wait_ns, int rounds, bool no_slack) {
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (no_slack) {
        prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
    }
    std::vector<double> late;
    for (int i = 0; i < rounds; ++i) {
        const std::int64_t target = now_ns() + wait_ns;
        const timespec until{static_cast<time_t>(target / 1'000'000'000),
                             static_cast<long>(target % 1'000'000'000)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
        late.push_back(static_cast<double>(now_ns() - target));
    }
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0, 0, 0);
    return median(late);
}

bool run(std::vector<char*> argv, std::int64_t& start, std::int64_t& end) {
    argv.push_back(nullptr);
    start = now_ns();
    const pid_t pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    end = now_ns();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<sim::request_record> read_log(const std::string& dir) {
    std::vector<sim::request_record> records;
    std::FILE* file = std::fopen((dir + "/requests.log").c_str(), "rb");
    if (file == nullptr) {
        return records;
    }
    sim::request_record record;
    while (std::fread(&record, sizeof record, 1, file) == 1) {
        records.push_back(record);
    }
    static_cast<void>(std::fclose(file));  // read only
    return records;
}

struct category {
    int count = 0;
    double floor_ns = 0;
    double actual_ns = 0;
    std::vector<double> excess_ns;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 7 || std::string(argv[5]) != "--") {
        std::fputs("usage: ostrel_e2e LABEL DIR LATENCY_US REENUMERATION_MS -- COMMAND...\n",
                   stderr);
        return 2;
    }
    const std::string label = argv[1];
    const std::string dir = argv[2];
    const auto number = [](const char* text) {
        std::int64_t value = -1;
        const char* end = text + std::strlen(text);
        const auto [rest, error] = std::from_chars(text, end, value);
        return error == std::errc{} && rest == end ? value : -1;
    };
    const std::int64_t latency_us = number(argv[3]);
    const std::int64_t reenumeration_ms = number(argv[4]);
    if (latency_us < 0 || reenumeration_ms < 0) {
        std::fputs("ostrel_e2e: LATENCY_US and REENUMERATION_MS are whole numbers\n", stderr);
        return 2;
    }
    const std::int64_t latency = latency_us * 1000;
    const std::int64_t reenumeration = reenumeration_ms * ms;
    std::int64_t start = 0;
    std::int64_t end = 0;
    if (!run(std::vector<char*>(argv + 6, argv + argc), start, end)) {
        std::fprintf(stderr, "ostrel_e2e: %s failed\n", label.c_str());
        return 1;
    }
    const std::vector<sim::request_record> log = read_log(dir);
    if (log.empty()) {
        std::fprintf(stderr, "ostrel_e2e: no requests in %s/requests.log\n", dir.c_str());
        return 1;
    }
    const auto is = [](const sim::request_record& r, sim::usb_mode mode, char command) {
        return r.mode == mode && r.bytes[1] == static_cast<std::uint8_t>(command);
    };
    const auto data_chunk = [&](const sim::request_record& r) {
        return is(r, sim::usb_mode::bootloader, 'D');
    };
    const auto mode_switch = [&](const sim::request_record& r) { return r.bytes[1] == 'B'; };
    const std::int64_t step = 250 * ms;
    const std::int64_t switch_wait =
        std::max<std::int64_t>(1, (reenumeration + step - 1) / step) * step;

    std::map<std::string, category> parts;
    int reply_waits = 0;
    int drains = 0;
    double floor = 0;
    for (std::size_t i = 0; i + 1 < log.size(); ++i) {
        const sim::request_record& r = log[i];
        const sim::request_record& next = log[i + 1];
        std::string part;
        std::int64_t expected = 0;
        if (mode_switch(r)) {
            part = "mode switch";
            expected = switch_wait;
        } else if (is(next, sim::usb_mode::bootloader, 'P')) {
            part = "drain before a page's P (reply + 1 ms read)";
            expected = latency + ms;
            ++drains;
        } else if (data_chunk(r)) {
            part = "from one data chunk to the next";
        } else {
            part = "reply to the next request";
            expected = latency;
            ++reply_waits;
        }
        const double actual = static_cast<double>(next.time_ns - r.time_ns);
        category& c = parts[part];
        ++c.count;
        c.floor_ns += static_cast<double>(expected);
        c.actual_ns += actual;
        c.excess_ns.push_back(actual - static_cast<double>(expected));
        floor += static_cast<double>(expected);
    }
    const sim::request_record& last = log.back();
    const bool last_waited = !mode_switch(last) && !data_chunk(last);
    floor += last_waited ? static_cast<double>(latency) : 0;
    reply_waits += last_waited ? 1 : 0;
    const double wall = static_cast<double>(end - start);
    const double before = static_cast<double>(log.front().time_ns - start);
    const double after = static_cast<double>(end - last.time_ns);

    std::printf("%s: %zu requests, wall %.1f ms, floor %.1f ms: %.3f x floor   goal: <= 1.05: %s\n",
                label.c_str(), log.size(), wall / 1e6, floor / 1e6, wall / floor,
                wall <= 1.05 * floor ? "met" : "NOT met");
    std::printf(
        "%s:   where the wall time went, by transition (count, floor, median above "
        "floor, total above floor):\n",
        label.c_str());
    std::printf("%s:     program start to first request: %.1f ms\n", label.c_str(), before / 1e6);
    for (const auto& [name, c] : parts) {
        double above = 0;
        for (const double e : c.excess_ns) {
            above += e;
        }
        std::printf("%s:     %s: %d, %.1f ms, %.1f us, %.1f ms\n", label.c_str(), name.c_str(),
                    c.count, c.floor_ns / 1e6, median(c.excess_ns) / 1e3, above / 1e6);
    }
    std::printf("%s:     last request to exit (its reply %s): %.1f ms\n", label.c_str(),
                last_waited ? "awaited" : "not awaited", after / 1e6);
    if (const char* exact = std::getenv("OSTREL_SIM_EXACT_WAITS");
        exact != nullptr && *exact != '\0' && std::string(exact) != "0") {
        return 0;  // the stand-in waited without sleeping: no wake-ups to set against
    }
    const double wake = sleep_lateness(latency, 2000, true);
    const double timeout_late = sleep_lateness(ms, 300, false);
    const double os_share = reply_waits * wake + drains * (wake + timeout_late);

    std::printf(
        "%s:   the system alone, measured now: a wake-up when a reply is due %.1f us "
        "late, a 1 ms time-out %.1f us late; for these %d reply waits and %d drains "
        "%.1f ms\n",
        label.c_str(), wake / 1e3, timeout_late / 1e3, reply_waits, drains, os_share / 1e6);
    std::printf(
        "%s:   floor with those wake-ups (an estimate: they vary from moment to "
        "moment): %.1f ms: %.3f x; the rest, program and stand-in: %.1f ms (%.2f us a "
        "request)\n",
        label.c_str(), (floor + os_share) / 1e6, wall / (floor + os_share),
        (wall - floor - os_share) / 1e6,
        (wall - floor - os_share) / 1e3 / static_cast<double>(log.size()));
    return 0;
}
