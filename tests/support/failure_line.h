#pragma once

#include <string>

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

}  // namespace ostrel::testing
