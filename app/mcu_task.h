#pragma once

#include <string>

namespace ostrel {

// The progress line of the -f task: "Firmware progress: " and the fraction done times 100
// in printf's %g form, then "%".
std::string firmware_progress_line(double fraction);

}  // namespace ostrel
