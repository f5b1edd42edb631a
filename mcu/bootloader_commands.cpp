// The bootloader's commands as operations of the device object. Each checks its handle and
// its address first and sends nothing when either is wrong; none retries anything.
#include <algorithm>
#include <optional>
#include <span>

#include "device/bootloader_thread.h"
#include "device/transport.h"
#include "mcu/bootloader_frames.h"

namespace ostrel {
namespace {

constexpr int command_timeout_ms = 1000;          // 'P' and 'e'
constexpr int fallback_erase_timeout_ms = 10000;  // '"'
constexpr int drain_read_ms = 1;
// A device that keeps sending status reports must not hold the page forever: the drain
// before 'P' gives up, failing the page, at this many reports. Each read waits 1 ms at
// most, so the drain ends within about 64 ms. A page of 16 chunks leaves at most 16.
constexpr std::size_t drain_report_limit = 64;

constexpr std::uint32_t data_alignment = mcu_chunk_size;
constexpr std::uint32_t page_alignment = mcu_page_size;
constexpr std::uint32_t erase_alignment = 0x2000;
constexpr std::uint32_t erase_16k_alignment = 0x4000;

// The status byte of the next input report within `timeout_ms`; nothing when none came.
std::optional<std::uint8_t> read_status(hid_device* handle, int timeout_ms) {
    hid_report reply{};
    if (hid_read_timeout(handle, reply.data(), reply.size(), timeout_ms) <= 0) {
        return std::nullopt;
    }
    return reply[0];
}

bool accepted(std::optional<std::uint8_t> status) {
    return status == boot_status_ok;
}

// Reads away the status reports still queued from the data chunks. False on a refusal
// among them or when they do not stop coming.
bool drain_replies(hid_device* handle) {
    std::size_t drained = 0;
    while (const auto status = read_status(handle, drain_read_ms)) {
        if (*status != boot_status_ok || ++drained >= drain_report_limit) {
            return false;
        }
    }
    return true;
}

bool erase(hid_device* handle, std::uint8_t mode, std::uint32_t alignment, std::uint32_t address) {
    if (handle == nullptr || address % alignment != 0) {
        return false;
    }
    return send_output_report(handle, erase_report(mode, address)) &&
           accepted(read_status(handle, command_timeout_ms));
}

// One 'D'. Whatever report is first in the queue, perhaps an earlier chunk's, is read
// without waiting; a chunk whose reply has not come yet counts as accepted.
bool write_chunk(hid_device* handle, std::uint32_t address, std::span<const std::uint8_t> data) {
    if (handle == nullptr || address % data_alignment != 0 || data.empty() ||
        data.size() > mcu_chunk_size) {
        return false;
    }
    if (!send_output_report(handle, data_report(address, data))) {
        return false;
    }
    const auto status = read_status(handle, 0);
    return !status || *status == boot_status_ok;
}

}  // namespace

bool bootloader_thread::mcu_write_chunk(std::uint32_t address, const byte_vector& data) {
    return write_chunk(bootloader_handle, address, data);
}

bool bootloader_thread::mcu_write_page(std::uint32_t address, const byte_vector& data) {
    if (bootloader_handle == nullptr || address % page_alignment != 0 ||
        data.size() > mcu_page_size) {
        return false;
    }
    const std::span<const std::uint8_t> bytes(data);
    for (std::size_t offset = 0; offset < data.size(); offset += mcu_chunk_size) {
        if (!write_chunk(bootloader_handle, address + static_cast<std::uint32_t>(offset),
                         bytes.subspan(offset, std::min(mcu_chunk_size, data.size() - offset)))) {
            return false;
        }
    }
    if (!drain_replies(bootloader_handle)) {
        return false;
    }
    return send_output_report(bootloader_handle, program_report(address)) &&
           accepted(read_status(bootloader_handle, command_timeout_ms));
}

bool bootloader_thread::mcu_erase_sector(std::uint32_t address) {
    return erase(bootloader_handle, erase_mode_sector, erase_alignment, address);
}

bool bootloader_thread::mcu_erase_16k(std::uint32_t address) {
    return erase(bootloader_handle, erase_mode_16k, erase_16k_alignment, address);
}

bool bootloader_thread::mcu_erase_tail(std::uint32_t address) {
    return erase(bootloader_handle, erase_mode_tail, erase_alignment, address);
}

bool bootloader_thread::mcu_fallback_erase() {
    if (bootloader_handle == nullptr) {
        return false;
    }
    return send_output_report(bootloader_handle, build_fallback_erase_frame()) &&
           accepted(read_status(bootloader_handle, fallback_erase_timeout_ms));
}

}  // namespace ostrel
