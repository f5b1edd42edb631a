#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "app/tasks.h"

namespace ostrel::testing {

struct cli_result {
    int status;
    std::string out;
    std::string err;
};

// The program's command line run in process, with `args` after the program name.
inline cli_result run_cli(std::vector<std::string> args) {
    args.insert(args.begin(), "ostrel_firmware_update");
    std::ostringstream out;
    std::ostringstream err;
    const int status = ostrel::run_cli(args, out, err);
    return {status, out.str(), err.str()};
}

}  // namespace ostrel::testing
