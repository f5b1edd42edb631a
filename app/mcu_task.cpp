#include "app/tasks.h"

namespace ostrel {

task_result firmware_task(run_context& run, const option_hit& /*option*/) {
    run.action_taken = true;
    return std::nullopt;
}

}  // namespace ostrel
