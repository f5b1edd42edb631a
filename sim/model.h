#pragma once

// The behaviour of the virtual Ostrel over its state: USB presence and re-enumeration,
// requests in, input reports out, faults. Time is passed in by the caller (a real clock
// in the shared library, a virtual one in the in-process tests).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "sim/device_state.h"

namespace sim {

inline constexpr std::uint16_t app_product_id = 0x0101;
inline constexpr std::uint16_t bootloader_product_id = 0x4004;

// What a fresh device looks like.
struct device_options {
    std::uint16_t vendor_id = OSTREL_VENDOR_ID;
    usb_mode mode = usb_mode::application;
    std::string app_version = "OSTREL-APP 1.0.0";
    std::string bootloader_version = "OSTREL-BL 1.0";
    std::string bridge_version = "VXR7200 FW 1.0";
    std::uint8_t bank_status = 0x05;
    std::uint32_t reenumeration_ms = 500;
    std::uint32_t reply_latency_us = 0;
};

void init_state(device_state& state, const device_options& options);
// Puts the device on USB port `port` ("1-4.2") with serial number `serial`, each at most 63
// characters; empty: none. A mode switch changes neither.
void set_usb_place(device_state& state, const std::string& port, const std::string& serial);
// The device's USB port path and serial number as text; empty when it has none.
std::string usb_port(const device_state& state);
std::string serial_number(const device_state& state);

std::uint16_t product_id_of(usb_mode mode);
const char* mode_name(usb_mode mode);

// The 65 bytes of a request as the host framed them (byte 0 the report number) and the
// 64 bytes of an input report (byte 0 the reply code or status).
using request_bytes = std::array<std::uint8_t, 65>;
using reply_bytes = std::array<std::uint8_t, input_report_size>;

// How a request reached the device.
enum class channel : std::uint8_t { feature = 0, output = 1 };

// One request as the device received it, for the request log.
struct request_record {
    std::uint64_t sequence;
    std::int64_t time_ns;
    usb_mode mode;
    channel via;
    std::uint8_t reserved[6];
    request_bytes bytes;
};

// Completes a re-enumeration that is due and lets streamed reports arrive.
void settle(device_state& state, std::int64_t now_ns);

// Whether hid_open(vendor, product) finds the device now, and whether it lets itself be
// opened (a device without access rights is listed but cannot be opened).
bool listed_as(const device_state& state, std::uint16_t vendor, std::uint16_t product);
bool openable(const device_state& state);

// A request arrives from the host. Returns false when the device is not there to take it.
// Fills `record` for the log when the device took it.
bool receive(device_state& state, std::int64_t now_ns, channel via,
             std::span<const std::uint8_t> report, request_record& record);

// The oldest input report that has arrived by `now_ns`, removed from the queue, with the
// number of bytes a read of it delivers (1 to 64; fewer than 64 only when the chaos mode cut
// it short).
struct input_report {
    reply_bytes bytes;
    std::size_t length;
};
std::optional<input_report> take_input_report(device_state& state, std::int64_t now_ns);
// Drops every queued report (a new handle sees only reports that arrive after it opened).
void clear_reports(device_state& state);
// When the next thing happens that a waiting reader could see; INT64_MAX if nothing will.
std::int64_t next_event_ns(const device_state& state);

// Faults, parsed from and printed as the rule syntax of `ostrel_sim fault`.
std::optional<fault_rule> parse_fault_rule(const std::string& text, std::string& error);
std::string format_fault_rule(const fault_rule& rule);

// The Linux signal of a `kill` rule that fired on the request just taken (its value; 9,
// SIGKILL, when it names none), the rule then disarmed; 0 when none fired. The model counts
// a rule's matching requests in `seen`: a rule still armed whose count has reached its
// occurrence (the first match when it names none) has fired on this very request.
int take_fired_kill(device_state& state);
bool arm_fault(device_state& state, const fault_rule& rule);

// Outcome of a command handled by a part of the device.
struct command_outcome {
    bool replies = false;
    reply_bytes reply{};
};

// The bootloader's flash commands and the bridge's flash commands ('K', 'A', 'D', and
// 'T' with its bank status). `apply` is false when a fault makes the device acknowledge
// without acting.
command_outcome bootloader_flash_command(device_state& state, const request_bytes& request,
                                         bool apply);
command_outcome bridge_command(device_state& state, const request_bytes& request, bool apply);

}  // namespace sim

namespace sim {

// Puts an input report on its way to the host, to arrive at `deliver_at_ns`; a read of it
// delivers `length` bytes (0: all 64). A full queue drops it, as the kernel's does.
void queue_report(device_state& state, std::int64_t deliver_at_ns, const reply_bytes& data,
                  std::uint32_t length = 0);
// Lets the reports of a stream arrive up to `now_ns`, one a millisecond from `next_ns` on and
// none after `until_ns`, each made by `report` for the device's mode and its time; a backlog
// is capped at what the input queue holds. `next_ns` moves on past the reports sent. The
// stream fault and the chaos mode's storm both send their reports so.
void stream_reports(device_state& state, std::int64_t& next_ns, std::int64_t now_ns,
                    std::int64_t until_ns,
                    reply_bytes (*report)(usb_mode mode, std::int64_t at_ns));
// The device leaves USB at `now_ns` and comes back as `next` after its re-enumeration
// delay, or never when `next` is absent; the input queue is lost.
void leave_usb(device_state& state, std::int64_t now_ns, usb_mode next);

// Takes the device off USB (`mode` absent) or puts it back on in `mode`, as a person
// pulling and plugging the cable; the input queue is lost either way.
void replug(device_state& state, usb_mode mode);

// Puts a raw image of the bridge's flash in place (shorter images leave the rest erased)
// and brings what the device derives from the flash up to date.
void load_bridge_flash(device_state& state, std::span<const std::uint8_t> image);

}  // namespace sim
