#include "mcu/bootloader_commands.h"

#include <algorithm>

#include "mcu/bootloader_frames.h"

namespace ostrel {
namespace {

constexpr int status_timeout_ms = 1000;           // 'P' and 'e'
constexpr int fallback_erase_timeout_ms = 10000;  // '"'
// A device that keeps sending status reports must not hold the page forever: the drain
// before 'P' gives up, failing the page, at this many reports. Each read waits 1 ms at
// most, so the drain ends within about 64 ms. A page of 16 chunks leaves at most 16.
constexpr std::size_t drain_report_limit = 64;

constexpr std::uint32_t data_alignment = mcu_chunk_size;
constexpr std::uint32_t page_alignment = mcu_page_size;
constexpr std::uint32_t erase_alignment = 0x2000;
constexpr std::uint32_t erase_16k_alignment = 0x4000;

// Sends `request` and waits up to `timeout_ms` for its status: true when accepted.
bool accepted(device_link& link, const hid_report& request, int timeout_ms) {
    return link.boot_send(request) && link.boot_status(timeout_ms) == boot_status_ok;
}

bool erase(device_link& link, std::uint8_t mode, std::uint32_t alignment, std::uint32_t address) {
    return link.bootloader_open() && address % alignment == 0 &&
           accepted(link, erase_report(mode, address), status_timeout_ms);
}

}  // namespace

bool mcu_write_chunk(device_link& link, std::uint32_t address, std::span<const std::uint8_t> data) {
    if (!link.bootloader_open() || address % data_alignment != 0 || data.empty() ||
        data.size() > mcu_chunk_size || !link.boot_send(data_report(address, data))) {
        return false;
    }
    const auto status = link.boot_status(0);
    return !status || *status == boot_status_ok;
}

bool mcu_write_page(device_link& link, std::uint32_t address, std::span<const std::uint8_t> data) {
    if (!link.bootloader_open() || address % page_alignment != 0 || data.size() > mcu_page_size) {
        return false;
    }
    for (std::size_t offset = 0; offset < data.size(); offset += mcu_chunk_size) {
        if (!mcu_write_chunk(
                link, address + static_cast<std::uint32_t>(offset),
                data.subspan(offset, std::min(mcu_chunk_size, data.size() - offset)))) {
            return false;
        }
    }
    return link.boot_drain(drain_report_limit) &&
           accepted(link, program_report(address), status_timeout_ms);
}

bool mcu_erase_sector(device_link& link, std::uint32_t address) {
    return erase(link, erase_mode_sector, erase_alignment, address);
}

bool mcu_erase_16k(device_link& link, std::uint32_t address) {
    return erase(link, erase_mode_16k, erase_16k_alignment, address);
}

bool mcu_erase_tail(device_link& link, std::uint32_t address) {
    return erase(link, erase_mode_tail, erase_alignment, address);
}

bool mcu_fallback_erase(device_link& link) {
    return link.bootloader_open() &&
           accepted(link, fallback_erase_report(), fallback_erase_timeout_ms);
}

}  // namespace ostrel
