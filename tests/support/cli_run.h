#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/tasks.h"
#include "tests/support/process.h"

namespace ostrel::testing {

// Whether `err` ends by reporting `failure_line`: that whole line, then at most the one line
// that says where the device stands and what to do next.
inline bool ends_with_failure(const std::string& err, const std::string& failure_line) {
    const std::size_t at = err.rfind(failure_line + "\n");
    if (at == std::string::npos || (at > 0 && err[at - 1] != '\n')) {
        return false;
    }
    const std::string after = err.substr(at + failure_line.size() + 1);
    return after.empty() || after.find('\n') == after.size() - 1;
}

struct cli_result {
    int status;
    std::string out;
    std::string err;
};

// The line that follows a failed connection when no Ostrel is attached.
inline const std::string no_device_advice =
    "No Ostrel found: looked for USB ids 1209:0101 (application) and 1209:4004 (bootloader). "
    "Check the cable; the vendor id is set when the program is built (OSTREL_VENDOR_ID) and "
    "must be the maker's.\n";

// `text` with zeros up to `size` bytes, as the device's version replies come.
inline std::string padded(const std::string& text, std::size_t size) {
    return text + std::string(size - text.size(), '\0');
}

// The folder of the locks of this process's runs (OSTREL_LOCK_DIR), its own: a run that finds
// no device would take the locks of other tests' devices, held at the same time, for the
// lock of an Ostrel off USB.
inline const std::string& lock_directory() {
    static const temp_dir folder;
    static const bool chosen = setenv("OSTREL_LOCK_DIR", folder.path().c_str(), 1) == 0;
    static_cast<void>(chosen);
    return folder.path();
}

// The program's command line run in process, with `args` after the program name.
inline cli_result run_cli(std::vector<std::string> args) {
    lock_directory();
    args.insert(args.begin(), "ostrel_firmware_update");
    std::ostringstream out;
    std::ostringstream err;
    const int status = ostrel::run_cli(args, out, err);
    return {status, out.str(), err.str()};
}

}  // namespace ostrel::testing
