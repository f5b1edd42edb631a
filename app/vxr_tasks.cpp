#include "app/tasks.h"

namespace ostrel {

task_result erase_task(run_context& run, const option_hit& /*option*/) {
    run.action_taken = true;
    return std::nullopt;
}

task_result update_task(run_context& /*run*/, const option_hit& /*option*/) { return std::nullopt; }

}  // namespace ostrel
