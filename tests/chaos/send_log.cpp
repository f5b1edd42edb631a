#include "tests/chaos/send_log.h"

#include <hidapi.h>

#include <algorithm>

#include "sim/inprocess_device.h"

namespace chaos_test {
namespace {

void note(sim::channel via, const unsigned char* data, size_t length) {
    sim::request_record record{};
    record.time_ns = sim::inprocess_device::current().now_ns();
    record.mode =
        via == sim::channel::feature ? sim::usb_mode::application : sim::usb_mode::bootloader;
    record.via = via;
    if (data != nullptr) {
        std::copy_n(data, std::min(length, record.bytes.size()), record.bytes.begin());
    }
    record.sequence = sent_requests().size() + 1;
    sent_requests().push_back(record);
}

}  // namespace

std::vector<sim::request_record>& sent_requests() {
    static std::vector<sim::request_record> sent;
    return sent;
}

}  // namespace chaos_test

// The wrapped calls (the link option --wrap sends the program's calls here). The linker
// gives these names, reserved as they are.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
int __real_hid_write(hid_device* dev, const unsigned char* data, size_t length);
int __real_hid_send_feature_report(hid_device* dev, const unsigned char* data, size_t length);

int __wrap_hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    chaos_test::note(sim::channel::output, data, length);
    return __real_hid_write(dev, data, length);
}

int __wrap_hid_send_feature_report(hid_device* dev, const unsigned char* data, size_t length) {
    chaos_test::note(sim::channel::feature, data, length);
    return __real_hid_send_feature_report(dev, data, length);
}
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
