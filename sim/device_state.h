#pragma once

// The whole state of a virtual Ostrel as plain data, so that it can live in a file mapped
// into the process (it then survives the program being killed at any point) or in memory
// (in-process tests). Nothing here holds pointers.
#include <cstddef>
#include <cstdint>

#include "sim/fault_kinds.h"

namespace sim {

enum class usb_mode : std::uint8_t { absent = 0, application = 1, bootloader = 2 };

inline constexpr std::size_t input_report_size = 64;
inline constexpr std::size_t input_queue_capacity = 64;  // as the kernel's hidraw buffer
inline constexpr std::size_t max_fault_rules = 32;
inline constexpr std::size_t version_size = 64;

// The microcontroller's application flash area, 0x404000 up to 0x480000.
inline constexpr std::uint32_t mcu_flash_base = 0x404000;
inline constexpr std::uint32_t mcu_flash_size = 0x7C000;
// The bridge's SPI flash as the host addresses it.
inline constexpr std::uint32_t bridge_flash_size = 0x80000;

// A fault armed in the rule syntax of `ostrel_sim fault` (sim/fault_rules.cpp).
struct fault_rule {
    fault_kind kind;       // sim/fault_kinds.h
    usb_mode mode;         // absent: any mode
    std::uint8_t command;  // 0: any command
    std::uint8_t reserved;
    std::uint32_t nth;    // 0: every matching request; otherwise only the nth one
    std::uint32_t value;  // the kind's number
    std::uint32_t seen;   // requests the rule looked at since it was armed (sim/fault_kinds.h)
};

struct queued_report {
    std::int64_t deliver_at_ns;
    std::uint8_t data[input_report_size];
    std::uint32_t length;  // bytes a read delivers, 1 to 64; 0: the whole report
    std::uint32_t reserved;
};

// What the chaos mode (sim/chaos.h) keeps from one request to the next.
struct chaos_record {
    std::uint64_t turns;      // requests the chaos mode has looked at
    std::uint64_t disturbed;  // of them, those not answered as the device should
    // Times it acknowledged work not done, or sent an acceptance no request of the moment
    // earned: the host cannot tell these from the real thing.
    std::uint32_t blind_spots;
    std::uint32_t reserved;
    std::int64_t storm_until_ns;  // unrelated reports arrive one a millisecond until then
    std::int64_t storm_next_ns;
    std::uint32_t acts[16];  // how often each behaviour was chosen, by chaos_act
};

struct device_state {
    std::uint32_t magic;
    std::uint32_t layout_version;

    // USB presence.
    std::uint16_t vendor_id;
    usb_mode mode;         // the identity the device shows now
    usb_mode return_mode;  // the identity it comes back with after leaving; absent: never
    std::int64_t return_at_ns;
    std::uint32_t generation;  // grows every time the device leaves; older handles are dead
    std::uint32_t reenumeration_ms;
    std::uint32_t reply_latency_us;

    // What the device says about itself.
    char app_version[version_size];
    char bootloader_version[version_size];
    char bridge_version[version_size];
    std::uint8_t bank_status;
    // 1 once a load of the application area broke off (a flash request refused, unanswered,
    // or cut by an unplug) until the next erase of the area begins a new one: the
    // application is then incomplete and the bootloader's 'B' does not start it.
    std::uint8_t app_incomplete;
    std::uint8_t reserved[6];

    // Counters.
    std::uint64_t requests;
    std::uint64_t opens;           // calls of hid_open, successful or not
    std::uint32_t counts[3][256];  // requests by mode and command character

    // Faults armed for later runs.
    std::uint32_t fault_count;
    fault_rule faults[max_fault_rules];
    std::int64_t stream_next_ns;

    // Input reports on their way to the host, in the order they were sent.
    std::uint32_t queue_count;
    std::uint32_t reserved_queue;
    queued_report queue[input_queue_capacity];

    // ---- bootloader: its working state beside the application flash area ----
    std::uint8_t mcu_flash[mcu_flash_size];  // 0x404000 onward; erased bytes read 0xFF
    // The page buffer that 'D' fills and 'P' programs: the page its bytes belong to (0: no
    // page yet), the bytes, and which of them have arrived (1) since the page was started.
    static constexpr std::uint32_t mcu_page_size = 512;
    std::uint32_t mcu_page_address;
    std::uint32_t mcu_page_reserved;
    std::uint8_t mcu_page_data[mcu_page_size];
    std::uint8_t mcu_page_arrived[mcu_page_size];

    // ---- bridge: its SPI flash ----
    std::uint8_t bridge_flash[bridge_flash_size];  // erased bytes read 0xFF
    // What 'N' answers while the firmware bank in use carries no version text of its own
    // (sim/bridge_flash.h); the text given at init.
    char bridge_base_version[version_size];

    chaos_record chaos;

    // Where the device sits on USB: its port path ("1-4.2"; empty: none, as a device that
    // is not on USB) and its serial number (empty: none). A mode switch changes neither.
    char usb_port[version_size];
    char serial[version_size];
};

inline constexpr std::uint32_t state_magic = 0x4C525453;  // "STRL"
inline constexpr std::uint32_t state_layout_version = 5;

}  // namespace sim
