#include "device/transport.h"

#include "base/stop_request.h"

namespace ostrel {

bool send_output_report(hid_device* handle, std::span<const std::uint8_t> report) {
    if (handle == nullptr || stop_requested() != 0) {
        return false;
    }
    static_cast<void>(hid_write(handle, report.data(), report.size()));
    return true;
}

bool send_feature_report(hid_device* handle, std::span<const std::uint8_t> report) {
    if (handle == nullptr || stop_requested() != 0) {
        return false;
    }
    static_cast<void>(hid_send_feature_report(handle, report.data(), report.size()));
    return true;
}

}  // namespace ostrel
