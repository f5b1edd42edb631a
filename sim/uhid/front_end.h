#pragma once

#include <csignal>
#include <cstdint>
#include <span>
#include <string>

#include "sim/model.h"
#include "sim/uhid/uhid_link.h"

// The virtual Ostrel as a kernel HID device: keeps the uhid device in step with the
// model's presence and identity, hands the model every report the host sends, and sends
// the model's input reports when they are due. The device's behaviour is the model's.
namespace sim::uhid {

class front_end {
  public:
    front_end(device_state& state, uhid_link& link) : state_(state), link_(link) {}

    // Serves the device until `stop` is set.
    void run(const volatile std::sig_atomic_t& stop);

  private:
    // Whether the kernel device is the one the model is now (same identity, and the model
    // has not left USB since it was made).
    bool current() const;
    void sync_presence(std::int64_t now);
    void deliver_due_reports(std::int64_t now);
    void apply_access();
    std::int64_t next_wake(std::int64_t now) const;
    void handle(const uhid_event& event);
    bool take_request(channel via, std::uint8_t report_number,
                      std::span<const std::uint8_t> payload);

    device_state& state_;
    uhid_link& link_;
    usb_mode shown_mode_ = usb_mode::absent;
    std::uint32_t shown_generation_ = 0;
    std::int64_t last_request_ns_ = 0;
    bool create_failed_ = false;
    std::string node_;     // the device's hidraw node, once the kernel has made it
    unsigned access_ = 0;  // the permission bits given to it
};

}  // namespace sim::uhid
