#pragma once

#include <linux/uhid.h>

#include <cstdint>
#include <span>
#include <string>

// One HID device presented to the kernel through /dev/uhid: made and destroyed on the same
// file descriptor, input reports sent, the kernel's requests read and answered.
namespace sim::uhid {

class uhid_link {
  public:
    uhid_link() = default;
    uhid_link(const uhid_link&) = delete;
    uhid_link& operator=(const uhid_link&) = delete;
    ~uhid_link();

    bool open(std::string& error);
    int fd() const { return fd_; }

    // Makes a USB HID device with the Ostrel's report descriptor under `vendor`:`product`,
    // with `serial` as its serial number (empty: none).
    bool create(std::uint16_t vendor, std::uint16_t product, const char* name,
                const std::string& serial);
    // Takes the device away; the host sees it leave.
    bool destroy();
    bool present() const { return present_; }

    bool send_input(std::span<const std::uint8_t> report);
    bool reply_set_report(std::uint32_t id, std::uint16_t error);
    bool reply_get_report(std::uint32_t id, std::uint16_t error);
    // Reads the next event the kernel has for the device; false when there is none.
    bool read_event(uhid_event& event);

  private:
    bool write_event(const uhid_event& event);
    int fd_ = -1;
    bool present_ = false;
};

}  // namespace sim::uhid
