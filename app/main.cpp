#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "app/stop_signals.h"
#include "app/tasks.h"

namespace {

// Opens /dev/null on each of standard input, output and error that the program was started
// without, before anything else is opened: the first device opened would otherwise take
// descriptor 1 or 2, and the program's text would go to the device. False when that fails.
bool fill_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        // open() takes the lowest free descriptor, which is this one.
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!fill_standard_descriptors()) {
        return 1;  // nothing has been sent
    }
    // A reader of the output that goes away (| head) must not end the run half way through a
    // load: writes then fail, the run goes on and ends with status 1.
    static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
    const std::vector<std::string> args(argv, argv + argc);
    const int status = ostrel::run_cli(args, std::cout, std::cerr, isatty(STDOUT_FILENO) != 0);
    ostrel::end_if_stopped();
    return status;
}
