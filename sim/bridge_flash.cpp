#include <algorithm>
#include <cstring>

#include "sim/model.h"

namespace sim {

void load_bridge_flash(device_state& state, std::span<const std::uint8_t> image) {
    std::memset(state.bridge_flash, 0xFF, sizeof state.bridge_flash);
    std::copy_n(image.begin(), std::min<std::size_t>(image.size(), bridge_flash_size),
                state.bridge_flash);
}

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
