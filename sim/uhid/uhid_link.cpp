#include "sim/uhid/uhid_link.h"

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim::uhid {
namespace {

// No report ids; one 64-byte report each of input, output and feature, vendor page 0xFF00.
constexpr std::uint8_t report_descriptor[] = {
    0x06, 0x00, 0xFF,  // usage page 0xFF00
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size 8
    0x95, 0x40,        //   report count 64
    0x09, 0x01,        //   usage 1
    0x81, 0x02,        //   input (data, variable, absolute)
    0x09, 0x02,        //   usage 2
    0x91, 0x02,        //   output (data, variable, absolute)
    0x09, 0x03,        //   usage 3
    0xB1, 0x02,        //   feature (data, variable, absolute)
    0xC0,              // end collection
};

}  // namespace

uhid_link::~uhid_link() {
    if (fd_ >= 0) {
        close(fd_);  // the kernel destroys a device whose descriptor closes
    }
}

bool uhid_link::open(std::string& error) {
    fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        error = std::string("cannot open /dev/uhid: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool uhid_link::write_event(const uhid_event& event) {
    while (true) {
        const ssize_t written = write(fd_, &event, sizeof event);
        if (written == static_cast<ssize_t>(sizeof event)) {
            return true;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

bool uhid_link::create(std::uint16_t vendor, std::uint16_t product, const char* name,
                       const std::string& serial) {
    uhid_event event{};
    event.type = UHID_CREATE2;
    auto& request = event.u.create2;
    std::strncpy(reinterpret_cast<char*>(request.name), name, sizeof request.name - 1);
    // The kernel gives `uniq` to hidraw's users as the serial number.
    std::strncpy(reinterpret_cast<char*>(request.uniq), serial.c_str(), sizeof request.uniq - 1);
    request.rd_size = sizeof report_descriptor;
    request.bus = BUS_USB;
    request.vendor = vendor;
    request.product = product;
    request.version = 0x0100;
    std::memcpy(request.rd_data, report_descriptor, sizeof report_descriptor);
    present_ = write_event(event);
    return present_;
}

bool uhid_link::destroy() {
    uhid_event event{};
    event.type = UHID_DESTROY;
    const bool done = write_event(event);
    present_ = false;
    return done;
}

bool uhid_link::send_input(std::span<const std::uint8_t> report) {
    uhid_event event{};
    event.type = UHID_INPUT2;
    const std::size_t size = std::min<std::size_t>(report.size(), UHID_DATA_MAX);
    event.u.input2.size = static_cast<std::uint16_t>(size);
    std::memcpy(event.u.input2.data, report.data(), size);
    return write_event(event);
}

bool uhid_link::reply_set_report(std::uint32_t id, std::uint16_t error) {
    uhid_event event{};
    event.type = UHID_SET_REPORT_REPLY;
    event.u.set_report_reply.id = id;
    event.u.set_report_reply.err = error;
    return write_event(event);
}

bool uhid_link::reply_get_report(std::uint32_t id, std::uint16_t error) {
    uhid_event event{};
    event.type = UHID_GET_REPORT_REPLY;
    event.u.get_report_reply.id = id;
    event.u.get_report_reply.err = error;
    return write_event(event);
}

bool uhid_link::read_event(uhid_event& event) {
    while (true) {
        std::memset(&event, 0, sizeof event);  // short events are extended with zeros
        const ssize_t got = read(fd_, &event, sizeof event);
        if (got > 0) {
            return true;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

}  // namespace sim::uhid
