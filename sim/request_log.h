#pragma once

// The text of `ostrel_sim log`: each request the device received on one line, its fields as
// the device decodes them (sim/request_decode.h). Test stations and scripts read these
// lines, so their form stays.
#include <string>

#include "sim/model.h"

namespace sim {

// One line of `ostrel_sim log`: sequence number, mode, channel, command and its fields.
std::string describe_request(const request_record& record);

}  // namespace sim
