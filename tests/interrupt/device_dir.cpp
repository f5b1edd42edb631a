#include "tests/interrupt/device_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <stdexcept>

namespace interrupt_test {

void device_dir::reset(const sim::device_options& options, const bytes& mcu, const bytes& bridge) {
    file_ = std::make_unique<sim::state_file>();  // unmaps the old state first
    std::string error;
    if (!file_->create(dir_.path(), error)) {
        throw std::runtime_error(error);
    }
    sim::init_state(state(), options);
    std::copy_n(mcu.begin(), std::min<std::size_t>(mcu.size(), sim::mcu_flash_size),
                state().mcu_flash);
    if (!bridge.empty()) {
        sim::load_bridge_flash(state(), bridge);
    }
}

void device_dir::arm(const std::string& rule) {
    std::string error;
    const auto parsed = sim::parse_fault_rule(rule, error);
    if (!parsed || !sim::arm_fault(state(), *parsed)) {
        throw std::invalid_argument("bad fault rule in a test: " + rule + ": " + error);
    }
}

ostrel::testing::process_result device_dir::run(const std::vector<std::string>& args,
                                                int timeout_s) {
    return ostrel::testing::run_program(dir_.path(), args, timeout_s);
}

std::vector<sim::request_record> device_dir::log() const {
    std::vector<sim::request_record> records;
    const int fd = open(sim::state_file::log_path(dir_.path()).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return records;
    }
    sim::request_record record;
    while (read(fd, &record, sizeof record) == static_cast<ssize_t>(sizeof record)) {
        records.push_back(record);
    }
    close(fd);
    return records;
}

bool device_dir::settle() {
    for (int i = 0; i < 100 && state().mode == sim::usb_mode::absent &&
                    state().return_mode != sim::usb_mode::absent;
         ++i) {
        usleep(10'000);
        // The monotonic clock, as the stand-in's.
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        sim::settle(state(), std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    }
    return state().mode != sim::usb_mode::absent;
}

bool device_dir::mcu_holds(const bytes& image) {
    const std::uint8_t* flash = state().mcu_flash;
    return std::equal(image.begin(), image.end(), flash) &&
           std::all_of(flash + image.size(), flash + sim::mcu_flash_size,
                       [](std::uint8_t b) { return b == 0xFF; });
}

std::vector<std::size_t> points_around(const std::vector<sim::request_record>& log,
                                       const std::string& commands) {
    std::set<std::size_t> points;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (commands.find(command_of(log[i])) != std::string::npos) {
            for (std::size_t p = std::max<std::size_t>(i, 1); p <= std::min(i + 2, log.size());
                 ++p) {
                points.insert(p);
            }
        }
    }
    return {points.begin(), points.end()};
}

}  // namespace interrupt_test
