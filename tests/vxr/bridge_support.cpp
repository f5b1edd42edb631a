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
    sim::load_bridge_flash(dev.state(), old_image);
    const area banks[4] = {config_bank[0], config_bank[1], fw_bank[0], fw_bank[1]};
    for (std::size_t i = 0; i < 4; ++i) {
        if ((valid_banks & (1u << i)) == 0) {
            std::memset(dev.state().bridge_flash + banks[i].start, 0xFF, banks[i].size);
        }
    }
    sim::refresh_bridge(dev.state());
    return dev;
}

cli_result run_cli(std::vector<std::string> args) {
    args.insert(args.begin(), "ostrel_firmware_update");
    std::ostringstream out;
    std::ostringstream err;
    const int status = ostrel::run_cli(args, out, err);
    return {status, out.str(), err.str()};
}

bool holds(sim::inprocess_device& dev, area where, const image& bytes, area source) {
    const std::uint8_t* there = dev.state().bridge_flash + where.start;
    return std::equal(there, there + where.size, bytes.begin() + source.start);
}

bool valid(sim::inprocess_device& dev, area bank) {
    const std::uint8_t* trailer = dev.state().bridge_flash + bank.start + bank.size - 16;
    const auto usable = [](std::uint8_t b) { return b != 0x00 && b != 0xFF; };
    return usable(trailer[0]) && usable(trailer[15]);
}

std::vector<std::string> requests(const sim::inprocess_device& dev) {
    std::vector<std::string> out;
    for (const sim::request_record& record : dev.requests) {
        const auto& b = record.bytes;
        const auto u32 = [&b](std::size_t at) {
            return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24;
        };
        char text[40] = {static_cast<char>(b[1]), '\0'};
        if (b[1] == 'K') {
            std::snprintf(text, sizeof text, "K 0x%05X+0x%X", u32(2), u32(6));
        } else if (b[1] == 'A') {
            std::snprintf(text, sizeof text, "A 0x%05X+0x%X", u32(3), b[2]);
        } else if (b[1] == 'D') {
            const bool sector = b[2] == 0x80;
            std::snprintf(text, sizeof text, "D 0x%05X+0x%X", sector ? b[3] << 12 : b[2] << 16,
                          sector ? 0x1000 : 0x10000);
        }
        out.push_back(text);
    }
    return out;
}

std::size_t count(const sim::inprocess_device& dev, char command) {
    return std::count_if(dev.requests.begin(), dev.requests.end(),
                         [command](const sim::request_record& r) { return r.bytes[1] == command; });
}

}  // namespace bridge_test
