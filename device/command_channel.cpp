#include "device/command_channel.h"

#include <algorithm>
#include <array>

#include "device/clock.h"
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

hid_report build_bank_status_request() {
    return make_request('T');
}

hid_report build_checksum_request(std::uint32_t address, std::uint32_t length) {
    hid_report request = make_request('K');
    put_u32_le(request, 2, address);
    put_u32_le(request, 6, length);
    return request;
}

hid_report build_write_request(std::uint32_t address, std::span<const std::uint8_t> data) {
    hid_report request = make_request('A');
    const std::size_t count = std::min(data.size(), max_write_chunk);
    request[2] = static_cast<std::uint8_t>(count);
    put_u32_le(request, 3, address);
    std::copy_n(data.begin(), count, request.begin() + 7);
    return request;
}

namespace {

hid_report build_erase_request(std::uint8_t byte2, std::uint8_t byte3) {
    hid_report request = make_request('D');
    request[2] = byte2;
    request[3] = byte3;
    std::copy_n(erase_confirmation, erase_confirmation_length, request.begin() + 4);
    return request;
}

}  // namespace

hid_report build_sector_erase_request(std::uint32_t address) {
    return build_erase_request(0x80, static_cast<std::uint8_t>(address >> 12));
}

hid_report build_block_erase_request(std::uint32_t address) {
    return build_erase_request(static_cast<std::uint8_t>(address >> 16), 0x00);
}

std::optional<hid_report> send_app_command(hid_device* handle, const hid_report& request,
                                           std::uint8_t expected) {
    if (!send_feature_report(handle, request)) {
        return std::nullopt;
    }
    const std::array<std::uint8_t, 2> accepted{expected, reply_refused};
    auto reply = read_reply(handle, accepted, command_timeout_ms);
    if (!reply || (*reply)[0] != expected) {
        return std::nullopt;
    }
    return reply;
}

}  // namespace ostrel
