#include "sim/model.h"

namespace sim {

// The bootloader's flash commands.
command_outcome bootloader_flash_command(device_state& /*state*/, const request_bytes& /*request*/,
                                         bool /*apply*/) {
    command_outcome outcome;
    outcome.replies = true;
    outcome.reply[0] = 0x01;  // a command the bootloader does not know
    return outcome;
}

}  // namespace sim
