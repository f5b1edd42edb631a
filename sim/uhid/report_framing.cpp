#include "sim/uhid/report_framing.h"

#include <algorithm>

namespace sim::uhid {

std::span<const std::uint8_t> report_payload(std::span<const std::uint8_t> delivered) {
    return delivered.empty() ? delivered : delivered.subspan(1);
}

request_bytes model_request(std::uint8_t report_number, std::span<const std::uint8_t> payload) {
    request_bytes request{};
    request[0] = report_number;
    std::copy_n(payload.begin(), std::min(payload.size(), request.size() - 1), request.begin() + 1);
    return request;
}

}  // namespace sim::uhid
