// The virtual Ostrel as a kernel HID device: the front end's loop (sim/uhid/front_end.h).
#include "sim/uhid/front_end.h"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "sim/backend.h"
#include "sim/uhid/hidraw_node.h"
#include "sim/uhid/report_framing.h"

namespace sim::uhid {
namespace {

// A device finishes the transfer that told it to leave before it leaves: destroying the
// kernel device right after answering a feature report can fail the host's call.
constexpr std::int64_t leave_after_request_ns = 100'000'000;
// How often the state is looked at for changes made from outside (plug, unplug, faults).
constexpr std::int64_t look_interval_ns = 10'000'000;
// How often a new device's hidraw node is looked for until the kernel has made it.
constexpr std::int64_t node_look_interval_ns = 1'000'000;

const char* device_name(usb_mode mode) {
    return mode == usb_mode::bootloader ? "Ostrel bootloader" : "Ostrel";
}

}  // namespace

bool front_end::current() const {
    return link_.present() && shown_mode_ == state_.mode && shown_generation_ == state_.generation;
}

void front_end::sync_presence(std::int64_t now) {
    if (link_.present() && !current()) {
        if (now < last_request_ns_ + leave_after_request_ns) {
            return;
        }
        link_.destroy();
        shown_mode_ = usb_mode::absent;
        node_.clear();
    }
    if (!link_.present() && state_.mode != usb_mode::absent) {
        if (link_.create(state_.vendor_id, product_id_of(state_.mode), device_name(state_.mode),
                         serial_number(state_))) {
            shown_mode_ = state_.mode;
            shown_generation_ = state_.generation;
            create_failed_ = false;
        } else if (!create_failed_) {
            std::perror("ostrel_uhid: cannot create the HID device");
            create_failed_ = true;
        }
    }
}

void front_end::deliver_due_reports(std::int64_t now) {
    while (const auto report = take_input_report(state_, now)) {
        if (current()) {
            link_.send_input(report->bytes);  // a report nobody has open is lost, as on USB
        }
    }
}

// Who may open the device, as a udev rule would set it: everyone, or only root while the
// model says the host lacks the right (the `denied` fault).
void front_end::apply_access() {
    if (!current()) {
        return;
    }
    if (node_.empty()) {
        node_ =
            find_hidraw_node(state_.vendor_id, product_id_of(shown_mode_), serial_number(state_));
        access_ = 0;
    }
    const unsigned wanted = openable(state_) ? 0666 : 0600;
    if (!node_.empty() && wanted != access_ && chmod(node_.c_str(), wanted) == 0) {
        access_ = wanted;
    }
}

std::int64_t front_end::next_wake(std::int64_t now) const {
    std::int64_t wake = std::min(next_event_ns(state_), now + look_interval_ns);
    if (link_.present() && !current()) {
        wake = std::min(wake, std::max(now, last_request_ns_ + leave_after_request_ns));
    }
    if (current() && node_.empty()) {
        wake = std::min(wake, now + node_look_interval_ns);  // give it its rights soon
    }
    return wake;
}

bool front_end::take_request(channel via, std::uint8_t report_number,
                             std::span<const std::uint8_t> payload) {
    const std::int64_t now = backend::now_ns();
    settle(state_, now);
    if (!current()) {
        return false;  // the device this report was sent to has left
    }
    request_record record;
    if (!receive(state_, now, via, model_request(report_number, payload), record)) {
        return false;
    }
    backend::log_request(record);
    return true;
}

void front_end::handle(const uhid_event& event) {
    switch (event.type) {
        case UHID_SET_REPORT: {
            const auto& request = event.u.set_report;
            const std::span<const std::uint8_t> delivered(
                request.data, std::min<std::size_t>(request.size, UHID_DATA_MAX));
            bool taken = false;
            if (request.rtype == UHID_FEATURE_REPORT || request.rtype == UHID_OUTPUT_REPORT) {
                taken = take_request(
                    request.rtype == UHID_FEATURE_REPORT ? channel::feature : channel::output,
                    request.rnum, report_payload(delivered));
            }
            link_.reply_set_report(request.id, taken ? 0 : EIO);
            last_request_ns_ = backend::now_ns();
            break;
        }
        case UHID_OUTPUT: {
            const auto& request = event.u.output;
            const std::span<const std::uint8_t> delivered(
                request.data, std::min<std::size_t>(request.size, UHID_DATA_MAX));
            take_request(channel::output, delivered.empty() ? 0 : delivered[0],
                         report_payload(delivered));
            last_request_ns_ = backend::now_ns();
            break;
        }
        case UHID_GET_REPORT:
            // The device answers no report reads, as the stand-in's hid_get_feature_report.
            link_.reply_get_report(event.u.get_report.id, EIO);
            break;
        case UHID_OPEN:
            if (current()) {
                ++state_.opens;
                clear_reports(state_);  // a new reader sees only reports that come after it
            }
            break;
        default:
            break;  // start, stop, close
    }
}

// The state is held (sim/backend.h) while the device works on it, never while it waits:
// `ostrel_sim` may change it meanwhile.
void front_end::run(const volatile std::sig_atomic_t& stop) {
    while (stop == 0) {
        const std::int64_t now = backend::now_ns();
        std::int64_t wait_ns = 0;
        {
            const backend::device_hold hold;
            settle(state_, now);
            sync_presence(now);
            apply_access();
            deliver_due_reports(now);
            wait_ns = std::max<std::int64_t>(0, next_wake(now) - now);
        }
        const timespec timeout{static_cast<time_t>(wait_ns / 1'000'000'000),
                               static_cast<long>(wait_ns % 1'000'000'000)};
        pollfd descriptor{link_.fd(), POLLIN, 0};
        if (ppoll(&descriptor, 1, &timeout, nullptr) > 0 && (descriptor.revents & POLLIN) != 0) {
            // Everything the kernel has queued, at once: its queue holds 32 events and drops
            // what comes on top, where a USB device would make the host's write wait.
            uhid_event event;
            while (stop == 0 && link_.read_event(event)) {
                const backend::device_hold hold;
                handle(event);
                deliver_due_reports(backend::now_ns());
            }
        }
    }
}

}  // namespace sim::uhid
