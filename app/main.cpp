#include <iostream>
#include <string>
#include <vector>

#include "app/tasks.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    return ostrel::run_cli(args, std::cout, std::cerr);
}
