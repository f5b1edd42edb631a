#include "tests/support/process.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ostrel::testing {

temp_dir::temp_dir()
    : path_((std::filesystem::temp_directory_path() / "ostrel-test-XXXXXX").string()) {
    if (mkdtemp(path_.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary directory");
    }
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::uint8_t> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

process_result run_process(const std::vector<std::string>& argv, int timeout_s,
                           int terminal_columns) {
    const bool terminal = terminal_columns != 0;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(terminal_columns);
    int out_pipe[2];
    int err_pipe[2];
    if (!terminal && (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t child = terminal ? forkpty(&out_pipe[0], nullptr, nullptr, &size) : fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        if (!terminal) {
            dup2(out_pipe[1], 1);
            dup2(err_pipe[1], 2);
            close(out_pipe[0]);
            close(err_pipe[0]);
            close(out_pipe[1]);
            close(err_pipe[1]);
        }
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (!terminal) {
        close(out_pipe[1]);
        close(err_pipe[1]);
    }

    process_result result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {terminal ? -1 : err_pipe[0], POLLIN, 0}};
    int open_fds = terminal ? 1 : 2;
    while (open_fds > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            result.timed_out = true;
            kill(child, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) {
                continue;
            }
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    for (pollfd& fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return result;
}

}  // namespace ostrel::testing
