// The bridge's flash operations as requests and replies, and the byte sum that 'K' is
// compared with.
#include "vxr/flash_operations.h"

#include <algorithm>
#include <numeric>

#include "vxr/flash_map.h"
#include "vxr/flash_requests.h"

namespace ostrel::vxr {
namespace {

bool acknowledged(device_link& link, const hid_report& request) {
    return link.app_command(request, reply_ack).has_value();
}

}  // namespace

std::optional<std::uint8_t> query_bank_status(device_link& link) {
    const auto reply = link.app_command(build_bank_status_request(), 'T');
    if (!reply) {
        return std::nullopt;
    }
    return (*reply)[1];
}

std::optional<std::uint32_t> query_flash_checksum(device_link& link, std::uint32_t address,
                                                  std::uint32_t length) {
    const auto reply = link.app_command(build_checksum_request(address, length), 'K');
    if (!reply || (*reply)[1] != 4) {
        return std::nullopt;
    }
    return get_u32_le(*reply, 2);
}

bool write_flash_chunk(device_link& link, std::uint32_t address,
                       std::span<const std::uint8_t> data) {
    return link.app_open() && !data.empty() && data.size() <= max_write_chunk &&
           acknowledged(link, build_write_request(address, data));
}

bool write_flash_bytes(device_link& link, std::uint32_t start, std::span<const std::uint8_t> data,
                       const progress_callback& progress) {
    if (!link.app_open()) {
        return false;
    }
    const std::size_t size = data.size();
    std::size_t done = 0;
    while (done < size) {
        const std::size_t count = std::min(max_write_chunk, size - done);
        if (!write_flash_chunk(link, start + static_cast<std::uint32_t>(done),
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

bool invalidate_bank(device_link& link, const flash_region& region, std::size_t bank) {
    const std::uint32_t trailer = trailer_of(region, region.start[bank]);
    const std::uint8_t zero[1] = {0x00};
    return link.app_open() && region.flag[bank] != 0 && write_flash_chunk(link, trailer, zero) &&
           write_flash_chunk(link, trailer + trailer_size - 1, zero);
}

// An address at or above sector_address_limit has no sector number: refused rather than
// cut to one byte, which would erase another sector.
bool erase_flash_sector(device_link& link, std::uint32_t address) {
    return link.app_open() && address % sector_size == 0 && address < sector_address_limit &&
           acknowledged(link, build_sector_erase_request(address));
}

bool erase_flash_block(device_link& link, std::uint32_t address) {
    return link.app_open() && address % block_size == 0 && address < block_address_limit &&
           acknowledged(link, build_block_erase_request(address));
}

std::uint32_t erase_whole_flash(device_link& link) {
    std::uint32_t block = 0;
    while (block < flash_blocks && erase_flash_block(link, block << 16)) {
        ++block;
    }
    return block;
}

std::uint32_t sum_bytes(const std::uint8_t* first, const std::uint8_t* last) {
    return std::accumulate(first, last, std::uint32_t{0});
}

}  // namespace ostrel::vxr
