// The bridge flash operations of bootloader_thread: one application command each ('T',
// 'K', 'A', 'D'), or a series of 'A' for a whole region.
#include <algorithm>

#include "device/bootloader_thread.h"
#include "device/command_channel.h"
#include "vxr/flash_map.h"
#include "vxr/flash_queries.h"

namespace ostrel {

namespace vxr {

std::optional<std::uint8_t> query_bank_status(hid_device* app_handle) {
    const auto reply = send_app_command(app_handle, build_bank_status_request(), 'T');
    if (!reply) {
        return std::nullopt;
    }
    return (*reply)[1];
}

std::optional<std::uint32_t> query_flash_checksum(hid_device* app_handle, std::uint32_t address,
                                                  std::uint32_t length) {
    const auto reply = send_app_command(app_handle, build_checksum_request(address, length), 'K');
    if (!reply || (*reply)[1] != 4) {
        return std::nullopt;
    }
    return get_u32_le(*reply, 2);
}

namespace {

// One 'A' of 1 to 32 bytes.
bool write_chunk(hid_device* app_handle, std::uint32_t address,
                 std::span<const std::uint8_t> data) {
    if (app_handle == nullptr || data.empty() || data.size() > max_write_chunk) {
        return false;
    }
    return send_app_command(app_handle, build_write_request(address, data), reply_ack).has_value();
}

}  // namespace

bool write_flash_bytes(hid_device* app_handle, std::uint32_t start,
                       std::span<const std::uint8_t> data, const progress_callback& progress) {
    if (app_handle == nullptr) {
        return false;
    }
    const std::size_t size = data.size();
    std::size_t done = 0;
    while (done < size) {
        const std::size_t count = std::min(max_write_chunk, size - done);
        if (!write_chunk(app_handle, start + static_cast<std::uint32_t>(done),
                         data.subspan(done, count))) {
            return false;
        }
        done += count;
        if (progress) {
            progress(static_cast<double>(done) / static_cast<double>(size));
        }
    }
    return true;
}

}  // namespace vxr

namespace {

// Where the trailer of the bank named by `bank_flag` starts; nothing for any other value.
std::optional<std::uint32_t> trailer_start(std::uint32_t bank_flag) {
    switch (bank_flag) {
        case vxr::config_bank0_flag:
            return vxr::config_bank0_start + vxr::config_size - vxr::trailer_size;
        case vxr::config_bank1_flag:
            return vxr::config_bank1_start + vxr::config_size - vxr::trailer_size;
        case vxr::fw_bank0_flag:
            return vxr::fw_bank0_start + vxr::fw_size - vxr::trailer_size;
        case vxr::fw_bank1_flag:
            return vxr::fw_bank1_start + vxr::fw_size - vxr::trailer_size;
        default:
            return std::nullopt;
    }
}

}  // namespace

std::uint8_t bootloader_thread::read_bank_status() {
    return vxr::query_bank_status(app_handle).value_or(0);
}

std::uint32_t bootloader_thread::read_flash_checksum(std::uint32_t address, std::uint32_t length) {
    return vxr::query_flash_checksum(app_handle, address, length).value_or(0);
}

bool bootloader_thread::write_flash_chunk(std::uint32_t address, const byte_vector& data) {
    return vxr::write_chunk(app_handle, address, data);
}

bool bootloader_thread::invalidate_bank(std::uint32_t bank_flag) {
    const auto trailer = trailer_start(bank_flag);
    if (app_handle == nullptr || !trailer) {
        return false;
    }
    const byte_vector zero{0x00};
    return write_flash_chunk(*trailer, zero) &&
           write_flash_chunk(*trailer + vxr::trailer_size - 1, zero);
}

// An address at or above sector_address_limit has no sector number: refused rather than
// cut to one byte, which would erase another sector.
bool bootloader_thread::erase_flash_sector(std::uint32_t address) {
    if (app_handle == nullptr || address % vxr::sector_size != 0 ||
        address >= vxr::sector_address_limit) {
        return false;
    }
    return send_app_command(app_handle, build_sector_erase_request(address), reply_ack).has_value();
}

bool bootloader_thread::erase_flash_block(std::uint32_t address) {
    if (app_handle == nullptr || address % vxr::block_size != 0 ||
        address >= vxr::block_address_limit) {
        return false;
    }
    return send_app_command(app_handle, build_block_erase_request(address), reply_ack).has_value();
}

bool bootloader_thread::write_flash_region(std::uint32_t start, const byte_vector& data,
                                           const progress_callback& progress) {
    return vxr::write_flash_bytes(app_handle, start, data, progress);
}

}  // namespace ostrel
