#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/stop_signals.h"
#include "app/tasks.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    const int status = ostrel::run_cli(args, std::cout, std::cerr, isatty(STDOUT_FILENO) != 0);
    ostrel::end_if_stopped();
    return status;
}
