#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "device/device_list.h"
#include "device/report.h"

struct hid_device_;  // hidapi's handle; only device/ sees hidapi itself

// The link to one Ostrel: its two USB identities, the mode switch between them with the
// wait for the device to come back, why a connection failed, and the command channel of
// each identity. The microcontroller's load (mcu/) and the bridge's flash operations
// (vxr/) are built on these channels; this layer knows nothing of them.
namespace ostrel {

// Reply codes of the application's command channel.
inline constexpr std::uint8_t reply_ack = '$';      // a flash-changing command was done
inline constexpr std::uint8_t reply_refused = 'E';  // the firmware refused the command
// How long an application command waits for its reply.
inline constexpr std::int64_t command_timeout_ms = 1000;
// The bootloader's status byte for an accepted request; anything else is a refusal.
inline constexpr std::uint8_t boot_status_ok = 0x00;
// How long the device may stay off USB after a mode switch or a restart before a wait for
// it gives up.
inline constexpr std::int64_t return_limit_ms = 15000;

// How an attempt to reach one identity of the device ended.
enum class link_outcome : std::uint8_t {
    opened,          // the identity is open
    absent,          // no Ostrel is listed (where the run follows it)
    other_identity,  // the application was wanted and only the bootloader is listed
    no_access,       // listed under an identity tried, but it cannot be opened
    not_back,        // it left USB to restart and did not come back within return_limit_ms
    stopped,         // a stop was requested before it could be reached
};

// The result of a connection or a wait: how it ended, and the identity it was to reach.
struct connection {
    link_outcome outcome = link_outcome::absent;
    unsigned short product_id = 0;  // app_product_id or bootloader_product_id
    explicit operator bool() const { return outcome == link_outcome::opened; }
};

// The version of the hidapi library in use, as the library tells it.
std::string hidapi_version();

// Operations report failure by their result only (false, nothing, a connection that says
// why) and send nothing when the identity they need is not open. The link owns its two HID
// handles and closes them when it goes (closing sends nothing); it can be moved but not
// copied.
class device_link {
  public:
    device_link() = default;
    device_link(const device_link&) = delete;
    device_link& operator=(const device_link&) = delete;
    device_link(device_link&& other) noexcept;
    device_link& operator=(device_link&& other) noexcept;
    ~device_link();

    // Called once when a wait for the device to come back under a product id starts (after
    // a mode switch, or after this run restarted the application). May be empty.
    std::function<void(unsigned short product_id)> on_wait;
    // Where the device is found again after each mode switch; empty: by its ids alone.
    device_place place;
    // Each of these three says why when it fails. A stop requested, or a wait that ran out,
    // is told without listing the devices; otherwise the system's list tells whether the
    // device is there, in which identity, and only then unreachable (no access).
    // The application: opened as it is, or, when this link has the bootloader open, the
    // bootloader is told to start it ('B') and the application is waited for.
    connection connect_app();
    // The bootloader: opened as it is, or the application is told to start it ('B') on a
    // handle of its own and the bootloader is waited for.
    connection connect_bootloader();
    // Waits for the application to come back after this run restarted it: one attempt at
    // once, then one every 250 ms until more than return_limit_ms have passed. Sends
    // nothing.
    connection wait_for_app();
    // After a load: tells the bootloader to start the application (no reply is read) and
    // closes the bootloader handle. Nothing when that handle is not open.
    void start_application();
    bool app_open() const { return app_handle_ != nullptr; }
    bool bootloader_open() const { return bootloader_handle_ != nullptr; }

    // The version queries ('*' in either identity, 'N' in the application), in the buffer
    // the run keeps: the 64 bytes after the reply code, or for the bootloader all 65.
    std::optional<std::string> read_app_version(hid_report& report_buffer);
    std::optional<std::string> read_bootloader_version(hid_report& report_buffer);
    std::optional<std::string> read_bridge_version(hid_report& report_buffer);

    // The application's channel: sends `request` as a feature report and polls with 1 ms
    // reads for `expected` or a refusal, up to command_timeout_ms. The reply when its code
    // is `expected`; nothing on a refusal, a time-out or no application.
    std::optional<hid_report> app_command(const hid_report& request, std::uint8_t expected);

    // The bootloader's channel. Sends `report` as an output report; false when it was not
    // sent (no bootloader, or a stop was requested).
    bool boot_send(std::span<const std::uint8_t> report);
    // The status byte of the next input report within `timeout_ms`; nothing when none came.
    std::optional<std::uint8_t> boot_status(int timeout_ms);
    // Reads away the status reports still queued, with 1 ms reads. False on a refusal among
    // them, or when `limit` of them have come and they do not stop.
    bool boot_drain(std::size_t limit);

  private:
    // Waits for the device to come back under `product_id` into `slot` after a mode switch
    // or a restart at `start_ns`, announcing the wait once.
    connection await_return(hid_device_*& slot, unsigned short product_id, std::int64_t start_ns);

    hid_device_* bootloader_handle_ = nullptr;  // product id 0x4004, bootloader running
    hid_device_* app_handle_ = nullptr;         // product id 0x0101, application running
};

}  // namespace ostrel
