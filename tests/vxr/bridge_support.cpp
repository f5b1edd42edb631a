#include "tests/vxr/bridge_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "app/tasks.h"
#include "sim/bridge_flash.h"

namespace bridge_test {

std::string write_image(const ostrel::testing::temp_dir& dir, const std::string& name,
                        const image& bytes) {
    const std::string path = dir.file(name);
    ostrel::testing::write_file(path, bytes);
    return path;
}

sim::inprocess_device& device_holding(const image& old_image, std::uint8_t valid_banks) {
    auto& dev = sim::inprocess_device::reset();
    sim::device_state& state = dev.state();
    sim::load_bridge_flash(state, old_image);
    const area banks[4] = {config_bank[0], config_bank[1], fw_bank[0], fw_bank[1]};
    for (std::size_t i = 0; i < 4; ++i) {
        if ((valid_banks & (1u << i)) == 0) {
            std::memset(state.bridge_flash + banks[i].start, 0xFF, banks[i].size);
        }
    }
    sim::refresh_bridge(state);
    return dev;
}

cli_result run_cli(std::vector<std::string> args) {
    args.insert(args.begin(), "ostrel_firmware_update");
    std::ostringstream out;
    std::ostringstream err;
    const int status = ostrel::run_cli(args, out, err);
    return {status, out.str(), err.str()};
}

std::span<const std::uint8_t> flash(sim::inprocess_device& dev, area where) {
    return {dev.state().bridge_flash + where.start, where.size};
}

bool holds(sim::inprocess_device& dev, area where, const image& bytes, area source) {
    const auto there = flash(dev, where);
    return where.size == source.size &&
           std::equal(there.begin(), there.end(), bytes.begin() + source.start);
}

bool valid(sim::inprocess_device& dev, area bank) {
    const std::uint8_t* trailer = dev.state().bridge_flash + bank.start + bank.size - 16;
    const auto usable = [](std::uint8_t b) { return b != 0x00 && b != 0xFF; };
    return usable(trailer[0]) && usable(trailer[15]);
}

namespace {

std::uint32_t u32_at(const sim::request_bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

request decode(const sim::request_bytes& b) {
    request r{b[1], 0, 0, 0};
    switch (b[1]) {
        case 'K':
            r = {b[1], u32_at(b, 2), u32_at(b, 6), 0};
            break;
        case 'A':
            r = {b[1], u32_at(b, 3), b[2], b[7]};
            break;
        case 'D':
            r = b[2] == 0x80 ? request{b[1], b[3] * 0x1000u, 0x1000, 0}
                             : request{b[1], b[2] * 0x10000u, 0x10000, 0};
            break;
        default:
            break;
    }
    return r;
}

}  // namespace

std::vector<request> requests(const sim::inprocess_device& dev) {
    std::vector<request> out;
    for (const sim::request_record& record : dev.requests) {
        out.push_back(decode(record.bytes));
    }
    return out;
}

std::vector<request> requests_of(const sim::inprocess_device& dev, std::uint8_t command) {
    std::vector<request> out;
    for (const request& r : requests(dev)) {
        if (r.command == command) {
            out.push_back(r);
        }
    }
    return out;
}

std::string describe(const request& r) {
    char text[64];
    std::snprintf(text, sizeof text, "%c 0x%05X+0x%X", r.command, r.address, r.length);
    return text;
}

}  // namespace bridge_test
