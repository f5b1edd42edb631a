#include <string>

#include <hidapi.h>

#include "base/clock.h"
#include "device/device_link.h"
#include "device/transport.h"

namespace ostrel {
namespace {

constexpr std::int64_t star_read_ms = 10;      // each read of a '*' reply
constexpr std::int64_t bridge_read_ms = 1000;  // each read of an 'N' reply
// A device that keeps sending unrelated reports must not hold a query forever: no new
// read starts once this much time has passed since the request went out.
constexpr std::int64_t query_deadline_ms = 2000;

// Reads input reports into `buffer` until one starts with `reply_code`. Fails on the
// first read that brings nothing within `read_ms`, or once the deadline has passed.
bool await_reply(hid_device* handle, hid_report& buffer, std::uint8_t reply_code,
                 std::int64_t read_ms, std::int64_t start_ns) {
    while (elapsed_ms(start_ns) <= query_deadline_ms) {
        if (hid_read_timeout(handle, buffer.data(), buffer.size(), static_cast<int>(read_ms)) <=
            0) {
            return false;
        }
        if (buffer[0] == reply_code) {
            return true;
        }
    }
    return false;
}

// Sends an application command in `buffer` as a feature report and waits for its reply.
bool ask_application(hid_device* handle, hid_report& buffer, std::uint8_t command,
                     std::int64_t read_ms) {
    const std::int64_t start = monotonic_ns();
    buffer[0] = 0x00;
    buffer[1] = command;
    if (!send_feature_report(handle, buffer)) {
        return false;
    }
    buffer[0] = 0x00;  // an earlier reply left in the buffer must not count as the answer
    return await_reply(handle, buffer, command, read_ms, start);
}

// The '*' exchange in whichever identity has a handle; the reply is left in `buffer`.
bool ask_version(hid_device* bootloader, hid_device* application, hid_report& buffer) {
    if (bootloader != nullptr) {
        buffer[0] = 0x00;
        buffer[1] = '*';
        return send_output_report(bootloader, buffer) &&
               hid_read_timeout(bootloader, buffer.data(), buffer.size(),
                                static_cast<int>(star_read_ms)) > 0;
    }
    if (application != nullptr) {
        return ask_application(application, buffer, '*', star_read_ms);
    }
    return false;
}

std::string bytes_of(const hid_report& buffer, std::size_t first) {
    return {reinterpret_cast<const char*>(buffer.data()) + first, buffer.size() - first};
}

}  // namespace

std::optional<std::string> device_link::read_app_version(hid_report& report_buffer) {
    if (!ask_version(bootloader_handle_, app_handle_, report_buffer)) {
        return std::nullopt;
    }
    return bytes_of(report_buffer, 1);
}

std::optional<std::string> device_link::read_bootloader_version(hid_report& report_buffer) {
    if (!ask_version(bootloader_handle_, app_handle_, report_buffer)) {
        return std::nullopt;
    }
    return bytes_of(report_buffer, 0);
}

std::optional<std::string> device_link::read_bridge_version(hid_report& report_buffer) {
    if (app_handle_ == nullptr ||
        !ask_application(app_handle_, report_buffer, 'N', bridge_read_ms)) {
        return std::nullopt;
    }
    return bytes_of(report_buffer, 1);
}

}  // namespace ostrel
