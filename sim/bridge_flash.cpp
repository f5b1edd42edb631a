#include "sim/model.h"

namespace sim {

// The application firmware's commands that reach the bridge.
command_outcome bridge_command(device_state& state, const request_bytes& request, bool /*apply*/) {
    command_outcome outcome;
    outcome.replies = true;
    switch (request[1]) {
        case 'T':
            outcome.reply[0] = 'T';
            outcome.reply[1] = state.bank_status;
            break;
        default:
            outcome.reply[0] = 'E';  // a command the firmware does not know
            break;
    }
    return outcome;
}

}  // namespace sim
