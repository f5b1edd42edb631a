#pragma once

#include <ostream>

namespace ostrel {

// The progress printer of the -f task: "Firmware progress: " and the fraction done times
// 100 in printf's %g form, then "%", one whole line on `out`.
void firmware_progress_printer(std::ostream& out, double fraction);

}  // namespace ostrel
