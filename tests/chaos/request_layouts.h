#pragma once

#include <string>

#include "sim/model.h"

namespace chaos_test {

// What is wrong with a request the device received, measured against the requests the
// program may send in that mode; empty when it is one of them. Erase and write addresses
// must lie in the bridge's flash (0x00000 to 0x7FFFF) or in the microcontroller's
// application area (0x404000 to 0x47FFFF), and every bridge erase must carry the
// confirmation word.
std::string layout_error(const sim::request_record& record);

}  // namespace chaos_test
