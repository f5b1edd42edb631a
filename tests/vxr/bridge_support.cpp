// What the bridge tests share (tests/vxr/bridge_support.h).
#include "tests/vxr/bridge_support.h"

#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>

#include "app/tasks.h"
#include "sim/bridge_flash.h"
#include "sim/request_decode.h"
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
        const sim::request_fields f = sim::decode_request(record.mode, b);
        const bool k = f.command == 'K', a = f.command == 'A', d = f.command == 'D';
        const std::uint32_t at = f.address, size = f.length;
        const std::uint64_t kind = std::uint64_t(f.command) << 32 | size;
        const bool goes_on = (a || d) && kind == last_kind && at == next;
        last_kind = kind;
        next = at + size;
        if (goes_on) {
            out.back() = head + " x" + std::to_string(++repeats);
            continue;
        }
        char text[40] = {static_cast<char>(f.command), '\0'};
        if (k || a || d) {
            std::snprintf(text, sizeof text, "%c 0x%05X+0x%X", f.command, at, size);
        }
        head = text;
        repeats = 1;
        out.push_back(head);
    }
    return out;
}

}  // namespace bridge_test
