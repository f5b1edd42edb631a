// ostrel_time_commands ROUNDS LABEL PROGRAM [ARG...] [>FILE] [--- LABEL PROGRAM ...]
//
// Runs each command once per round, ROUNDS rounds, the starting command rotating from
// round to round so that none always runs first, and prints one line per command:
//   LABEL median_wall_ms median_cpu_ms min_wall_ms
// Wall time is taken around fork, exec and wait; CPU time (user + system) comes from the
// child's resource usage. `>FILE` sends the command's standard output to FILE. Status 1
// when a command fails.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct command {
    std::string label;
    std::vector<std::string> argv;
    std::string out;  // standard output goes here when set
    std::vector<double> wall_ms;
    std::vector<double> cpu_ms;
};

double now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double ms_of(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

bool run(command& c) {
    std::vector<char*> argv;
    for (std::string& a : c.argv) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const double start = now_ms();
    const pid_t pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        if (!c.out.empty()) {
            const int fd = open(c.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 1) < 0) {
                _exit(127);
            }
            close(fd);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        return false;
    }
    c.wall_ms.push_back(now_ms() - start);
    c.cpu_ms.push_back(ms_of(usage.ru_utime) + ms_of(usage.ru_stime));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? static_cast<int>(std::strtol(argv[1], nullptr, 10)) : 0;
    std::vector<command> commands;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "---" || commands.empty()) {
            commands.push_back({});
            if (arg == "---") {
                continue;
            }
        }
        command& c = commands.back();
        if (c.label.empty()) {
            c.label = arg;
        } else if (arg.size() > 1 && arg[0] == '>') {
            c.out = arg.substr(1);
        } else {
            c.argv.push_back(arg);
        }
    }
    if (rounds < 1 || commands.empty() ||
        std::any_of(commands.begin(), commands.end(),
                    [](const command& c) { return c.argv.empty(); })) {
        std::fputs(
            "usage: ostrel_time_commands ROUNDS LABEL PROGRAM [ARG...] [>FILE] "
            "[--- LABEL PROGRAM ...]\n",
            stderr);
        return 2;
    }
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < commands.size(); ++k) {
            command& c = commands[(k + static_cast<std::size_t>(round)) % commands.size()];
            if (!run(c)) {
                std::fprintf(stderr, "ostrel_time_commands: %s failed\n", c.label.c_str());
                return 1;
            }
        }
    }
    for (const command& c : commands) {
        std::printf("%s %.3f %.3f %.3f\n", c.label.c_str(), median(c.wall_ms), median(c.cpu_ms),
                    *std::min_element(c.wall_ms.begin(), c.wall_ms.end()));
    }
    return 0;
}
