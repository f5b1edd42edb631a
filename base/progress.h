#pragma once

#include <functional>

namespace ostrel {

// Receives the fraction of a job done, 0.0 to 1.0. May be empty: nothing is called then.
using progress_callback = std::function<void(double)>;

}  // namespace ostrel
