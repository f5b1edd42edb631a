#pragma once

#include <cstdint>

#include "app/tasks.h"

namespace ostrel {

// The progress lines of the bridge update: "VXR firmware progress: 12.500%" whenever the
// fraction has grown by more than 0.025 since the last line printed. The update copies its
// callback for every stage, so the callback must refer to one printer: its state spans
// the whole update (and, -u running once, the whole process) and is never reset.
class vxr_progress_printer {
  public:
    // `total_bytes`: the update's, for the events of --json.
    vxr_progress_printer(run_context& run, std::uint64_t total_bytes)
        : run_(run), total_bytes_(total_bytes) {}
    void operator()(double fraction);

  private:
    run_context& run_;
    std::uint64_t total_bytes_;
    double last_printed_fraction_ = 0.0;
};

}  // namespace ostrel
