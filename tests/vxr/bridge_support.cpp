#include "tests/vxr/bridge_support.h"

#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>

#include "app/tasks.h"
#include "sim/bridge_flash.h"
#include "tests/support/request_layout.h"

namespace bridge_test {

std::vector<std::string> requests(const sim::inprocess_device& dev) {
    std::vector<std::string> out;
    std::string head;  // the last word without its count
    std::uint64_t last_kind = 0;
    std::uint32_t next = 0;
    int repeats = 0;
    for (const sim::request_record& record : dev.requests) {
        const auto& b = record.bytes;
        if (const char* fault = request_fault(record.mode == sim::usb_mode::application,
                                              record.via == sim::channel::feature, b)) {
            out.emplace_back(fault);
            last_kind = 0;
            continue;
        }
        const auto u32 = [&b](std::size_t at) {
            return std::uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
        };
        const bool k = b[1] == 'K', a = b[1] == 'A', d = b[1] == 'D', sector = b[2] == 0x80;
        const std::uint32_t at = k ? u32(2) : a ? u32(3) : sector ? b[3] << 12 : b[2] << 16;
        const std::uint32_t size = k ? u32(6) : a ? b[2] : sector ? 0x1000 : 0x10000;
        const std::uint64_t kind = std::uint64_t(b[1]) << 32 | size;
        const bool goes_on = (a || d) && kind == last_kind && at == next;
        last_kind = kind;
        next = at + size;
        if (goes_on) {
            out.back() = head + " x" + std::to_string(++repeats);
            continue;
        }
        char text[40] = {static_cast<char>(b[1]), '\0'};
        if (k || a || d) {
            std::snprintf(text, sizeof text, "%c 0x%05X+0x%X", b[1], at, size);
        }
        head = text;
        repeats = 1;
        out.push_back(head);
    }
    return out;
}

}  // namespace bridge_test
