// The bytes of the application's bridge-flash requests (vxr/flash_requests.h).
#include "vxr/flash_requests.h"

#include <algorithm>

namespace ostrel::vxr {
namespace {

hid_report build_erase_request(std::uint8_t byte2, std::uint8_t byte3) {
    hid_report request = make_request('D');
    request[2] = byte2;
    request[3] = byte3;
    std::copy_n(erase_confirmation, erase_confirmation_length, request.begin() + 4);
    return request;
}

}  // namespace

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

hid_report build_sector_erase_request(std::uint32_t address) {
    return build_erase_request(0x80, static_cast<std::uint8_t>(address >> 12));
}

hid_report build_block_erase_request(std::uint32_t address) {
    return build_erase_request(static_cast<std::uint8_t>(address >> 16), 0x00);
}

}  // namespace ostrel::vxr
