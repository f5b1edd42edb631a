// The command channels of the two identities: feature reports answered by input reports in
// the application, output reports answered by status reports in the bootloader.
#include "device/command_channel.h"

#include <algorithm>
#include <array>

#include "base/clock.h"
#include "device/device_link.h"
#include "device/transport.h"

namespace ostrel {

std::optional<hid_report> read_reply(hid_device* handle, std::span<const std::uint8_t> accepted,
                                     std::int64_t timeout_ms) {
    if (accepted.empty()) {
        return std::nullopt;
    }
    hid_report buffer{};
    const std::int64_t start = monotonic_ns();
    while (true) {
        if (std::find(accepted.begin(), accepted.end(), buffer[0]) != accepted.end()) {
            return buffer;
        }
        if (elapsed_ms(start) > timeout_ms) {
            return std::nullopt;
        }
        // A read waits up to 1 ms for a report. With nothing to read from (no handle, or
        // a device that has left USB, whose reads fail at once) the millisecond is waited
        // out instead, so that the wait does not spin.
        if (handle == nullptr || hid_read_timeout(handle, buffer.data(), buffer.size(), 1) < 0) {
            sleep_ms(1);
        }
    }
}

std::optional<hid_report> device_link::app_command(const hid_report& request,
                                                   std::uint8_t expected) {
    if (!send_feature_report(app_handle_, request)) {
        return std::nullopt;
    }
    const std::array<std::uint8_t, 2> accepted{expected, reply_refused};
    auto reply = read_reply(app_handle_, accepted, command_timeout_ms);
    if (!reply || (*reply)[0] != expected) {
        return std::nullopt;
    }
    return reply;
}

bool device_link::boot_send(std::span<const std::uint8_t> report) {
    return send_output_report(bootloader_handle_, report);
}

std::optional<std::uint8_t> device_link::boot_status(int timeout_ms) {
    hid_report reply{};
    if (bootloader_handle_ == nullptr ||
        hid_read_timeout(bootloader_handle_, reply.data(), reply.size(), timeout_ms) <= 0) {
        return std::nullopt;
    }
    return reply[0];
}

bool device_link::boot_drain(std::size_t limit) {
    constexpr int drain_read_ms = 1;
    std::size_t drained = 0;
    while (const auto status = boot_status(drain_read_ms)) {
        if (*status != boot_status_ok || ++drained >= limit) {
            return false;
        }
    }
    return true;
}

}  // namespace ostrel
