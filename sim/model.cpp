// The virtual Ostrel's behaviour over its state (sim/model.h): presence on USB and
// re-enumeration, requests and their replies, the input queue, and what each fault kind
// (sim/fault_kinds.h) does to a request.
#include "sim/model.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "sim/bridge_flash.h"
#include "sim/chaos.h"

namespace sim {
namespace {

constexpr std::int64_t ns_per_ms = 1'000'000;
constexpr std::uint8_t stray_code = 0x3F;  // a report code that no command of the device uses

void copy_text(char (&field)[version_size], const std::string& text) {
    std::memset(field, 0, version_size);
    std::memcpy(field, text.data(), std::min(text.size(), version_size));
}

// An unrelated report, as the stray and stream faults send them (the same in every mode, at
// every time).
reply_bytes stray_report(usb_mode /*mode*/, std::int64_t /*at_ns*/) {
    reply_bytes report{};
    report[0] = stray_code;
    std::memcpy(&report[1], "stray", 5);
    return report;
}

bool armed(const device_state& state, fault_kind kind) {
    return std::any_of(state.faults, state.faults + state.fault_count,
                       [kind](const fault_rule& rule) { return rule.kind == kind; });
}

void remove_rule(device_state& state, std::size_t index) {
    std::copy(state.faults + index + 1, state.faults + state.fault_count, state.faults + index);
    --state.fault_count;
}

// The faults that bear on one request.
struct fault_effects {
    bool no_reply = false;
    bool refuse = false;
    bool ack_no_write = false;
    bool bad_status = false;
    bool unplug = false;
    std::uint32_t strays = 0;
    std::uint32_t delay_ms = 0;
};

// What a rule does to a request it looked at (and counted in `seen`), in `effects`; true when
// that used the rule up. The kinds that look at no request act elsewhere: noreturn at a mode
// switch, stream in settle(), denied in openable().
bool act(const fault_rule& rule, fault_effects& effects) {
    const bool fires = rule.nth == 0 || rule.seen == rule.nth;
    switch (rule.kind) {
        case fault_kind::no_reply:
            effects.no_reply = effects.no_reply || fires;
            break;
        case fault_kind::refuse:
            effects.refuse = effects.refuse || fires;
            break;
        case fault_kind::ack_no_write:
            effects.ack_no_write = effects.ack_no_write || fires;
            break;
        case fault_kind::bad_status:
            effects.bad_status = effects.bad_status || fires;
            break;
        case fault_kind::stray:
            effects.strays += fires ? rule.value : 0;
            break;
        case fault_kind::delay:
            effects.delay_ms += fires ? rule.value : 0;
            break;
        case fault_kind::unplug:
            effects.unplug = effects.unplug || rule.seen >= rule.value;
            return rule.seen >= rule.value;
        default:  // chaos: chaos_begin() decides; kill: take_fired_kill() sends it
            break;
    }
    return false;
}

fault_effects match_faults(device_state& state, usb_mode mode, std::uint8_t command) {
    fault_effects effects;
    for (std::size_t i = 0; i < state.fault_count;) {
        fault_rule& rule = state.faults[i];
        const fault_reach reach = fault_row(rule.kind).reach;
        const bool looks =
            reach == fault_reach::every || (reach == fault_reach::matching &&
                                            (rule.mode == usb_mode::absent || rule.mode == mode) &&
                                            (rule.command == 0 || rule.command == command));
        if (!looks) {
            ++i;
            continue;
        }
        ++rule.seen;
        if (act(rule, effects)) {
            remove_rule(state, i);
            continue;
        }
        ++i;
    }
    return effects;
}

command_outcome reply_with(std::uint8_t code, const char* text, std::size_t text_size) {
    command_outcome outcome;
    outcome.replies = true;
    outcome.reply[0] = code;
    std::memcpy(&outcome.reply[1], text, std::min(text_size, input_report_size - 1));
    return outcome;
}

command_outcome application_command(device_state& state, std::int64_t now_ns,
                                    const request_bytes& request, bool apply) {
    switch (request[1]) {
        case '*':
            return reply_with('*', state.app_version, version_size);
        case 'N':
            return reply_with('N', state.bridge_version, version_size);
        case 'B':
            leave_usb(
                state, now_ns,
                armed(state, fault_kind::no_return) ? usb_mode::absent : usb_mode::bootloader);
            return {};
        default:
            return bridge_command(state, request, apply);
    }
}

// Follows a load of the application area: an accepted erase begins one; a flash request
// refused, unanswered or cut short by an unplug breaks it off.
void note_load(device_state& state, std::uint8_t command, const fault_effects& faults,
               const command_outcome& outcome) {
    if (command != 'e' && command != 'D' && command != 'P' && command != 0x22) {
        return;
    }
    const bool accepted = outcome.replies && outcome.reply[0] == 0x00;
    if (faults.no_reply || faults.unplug || !accepted) {
        state.app_incomplete = 1;
    } else if (command == 'e' || command == 0x22) {
        state.app_incomplete = 0;
    }
}

command_outcome bootloader_command(device_state& state, std::int64_t now_ns,
                                   const request_bytes& request, bool apply) {
    switch (request[1]) {
        case '*': {
            command_outcome outcome;
            outcome.replies = true;
            std::memcpy(outcome.reply.data(), state.bootloader_version, version_size);
            return outcome;
        }
        case 'B':
            // An incomplete application is not started: the device stays in its bootloader.
            if (state.app_incomplete == 0) {
                leave_usb(
                    state, now_ns,
                    armed(state, fault_kind::no_return) ? usb_mode::absent : usb_mode::application);
            }
            return {};
        default:
            return bootloader_flash_command(state, request, apply);
    }
}

}  // namespace

void queue_report(device_state& state, std::int64_t deliver_at_ns, const reply_bytes& data,
                  std::uint32_t length) {
    // Like the kernel's hidraw buffer, a ring of 64 slots that keeps one free: at most 63
    // reports wait, and a full queue drops new ones.
    if (state.queue_count + 1 >= input_queue_capacity) {
        return;
    }
    queued_report& slot = state.queue[state.queue_count++];
    slot.deliver_at_ns = deliver_at_ns;
    std::memcpy(slot.data, data.data(), data.size());
    slot.length = length;
    slot.reserved = 0;
}

void stream_reports(device_state& state, std::int64_t& next_ns, std::int64_t now_ns,
                    std::int64_t until_ns,
                    reply_bytes (*report)(usb_mode mode, std::int64_t at_ns)) {
    const std::int64_t backlog = static_cast<std::int64_t>(input_queue_capacity) * ns_per_ms;
    next_ns = std::max(next_ns, now_ns - backlog);
    for (; next_ns <= std::min(now_ns, until_ns); next_ns += ns_per_ms) {
        queue_report(state, next_ns, report(state.mode, next_ns));
    }
}

void leave_usb(device_state& state, std::int64_t now_ns, usb_mode next) {
    state.mode = usb_mode::absent;
    state.return_mode = next;
    state.return_at_ns = now_ns + static_cast<std::int64_t>(state.reenumeration_ms) * ns_per_ms;
    ++state.generation;
    clear_reports(state);
}

void init_state(device_state& state, const device_options& options) {
    std::memset(&state, 0, sizeof state);
    state.magic = state_magic;
    state.layout_version = state_layout_version;
    state.vendor_id = options.vendor_id;
    state.mode = options.mode;
    state.return_mode = usb_mode::absent;
    state.reenumeration_ms = options.reenumeration_ms;
    state.reply_latency_us = options.reply_latency_us;
    copy_text(state.app_version, options.app_version);
    copy_text(state.bootloader_version, options.bootloader_version);
    copy_text(state.bridge_version, options.bridge_version);
    state.bank_status = options.bank_status;
    std::memset(state.mcu_flash, 0xFF, sizeof state.mcu_flash);
    init_bridge(state);  // erased, with the trailers of the valid banks stamped
}

void set_usb_place(device_state& state, const std::string& port, const std::string& serial) {
    copy_text(state.usb_port, port.substr(0, version_size - 1));
    copy_text(state.serial, serial.substr(0, version_size - 1));
}

std::string usb_port(const device_state& state) {
    return {state.usb_port, strnlen(state.usb_port, version_size)};
}

std::string serial_number(const device_state& state) {
    return {state.serial, strnlen(state.serial, version_size)};
}

std::uint16_t product_id_of(usb_mode mode) {
    switch (mode) {
        case usb_mode::application:
            return app_product_id;
        case usb_mode::bootloader:
            return bootloader_product_id;
        default:
            return 0;
    }
}

const char* mode_name(usb_mode mode) {
    switch (mode) {
        case usb_mode::application:
            return "application";
        case usb_mode::bootloader:
            return "bootloader";
        default:
            return "absent";
    }
}

void settle(device_state& state, std::int64_t now_ns) {
    if (state.mode == usb_mode::absent && state.return_mode != usb_mode::absent &&
        now_ns >= state.return_at_ns) {
        state.mode = state.return_mode;
        state.return_mode = usb_mode::absent;
    }
    if (state.mode != usb_mode::absent && armed(state, fault_kind::stream)) {
        // One report a millisecond from the first time anyone looks.
        if (state.stream_next_ns == 0) {
            state.stream_next_ns = now_ns;
        }
        stream_reports(state, state.stream_next_ns, now_ns,
                       std::numeric_limits<std::int64_t>::max(), stray_report);
    }
    chaos_settle(state, now_ns);
}

bool listed_as(const device_state& state, std::uint16_t vendor, std::uint16_t product) {
    return state.mode != usb_mode::absent && vendor == state.vendor_id &&
           product == product_id_of(state.mode);
}

bool openable(const device_state& state) {
    return !armed(state, fault_kind::denied);
}

bool receive(device_state& state, std::int64_t now_ns, channel via,
             std::span<const std::uint8_t> report, request_record& record) {
    if (state.mode == usb_mode::absent) {
        return false;
    }
    const usb_mode mode = state.mode;
    request_bytes request{};
    std::copy_n(report.begin(), std::min(report.size(), request.size()), request.begin());
    const std::uint8_t command = request[1];

    record = request_record{};
    record.sequence = ++state.requests;
    record.time_ns = now_ns;
    record.mode = mode;
    record.via = via;
    record.bytes = request;
    ++state.counts[static_cast<std::size_t>(mode)][command];

    const fault_effects faults = match_faults(state, mode, command);
    const chaos_turn turn = chaos_begin(state, mode, request);
    // The device uses no numbered reports and listens for feature reports in application
    // mode and output reports in the bootloader: anything else goes astray.
    const channel expected = mode == usb_mode::application ? channel::feature : channel::output;
    const bool apply = !faults.ack_no_write && turn.apply;
    command_outcome outcome;
    if (request[0] == 0x00 && via == expected && !turn.ignore) {
        if (faults.refuse) {
            outcome.replies = true;
            outcome.reply[0] = mode == usb_mode::application ? 'E' : 0x01;
        } else if (mode == usb_mode::application) {
            outcome = application_command(state, now_ns, request, apply);
        } else {
            outcome = bootloader_command(state, now_ns, request, apply);
        }
    }
    if (turn.act != chaos_act::normal) {
        chaos_finish(state, now_ns, mode, request, turn, outcome);
    } else if (state.mode == mode) {  // still on USB: the reply goes out
        const std::int64_t at = now_ns + static_cast<std::int64_t>(state.reply_latency_us) * 1000 +
                                static_cast<std::int64_t>(faults.delay_ms) * ns_per_ms;
        if (outcome.replies && !faults.no_reply) {
            for (std::uint32_t i = 0; i < faults.strays; ++i) {
                queue_report(state, at, stray_report(mode, at));
            }
            queue_report(state, at, outcome.reply);
        }
        if (faults.bad_status) {
            reply_bytes bad{};
            bad[0] = 0x01;
            queue_report(state, at, bad);
        }
    }
    if (mode == usb_mode::bootloader) {
        note_load(state, command, faults, outcome);
    }
    if (faults.unplug && state.mode != usb_mode::absent) {
        leave_usb(state, now_ns, usb_mode::absent);
    }
    return true;
}

std::optional<input_report> take_input_report(device_state& state, std::int64_t now_ns) {
    std::size_t pick = state.queue_count;
    for (std::size_t i = 0; i < state.queue_count; ++i) {
        if (state.queue[i].deliver_at_ns <= now_ns &&
            (pick == state.queue_count ||
             state.queue[i].deliver_at_ns < state.queue[pick].deliver_at_ns)) {
            pick = i;
        }
    }
    if (pick == state.queue_count) {
        return std::nullopt;
    }
    input_report report{};
    std::memcpy(report.bytes.data(), state.queue[pick].data, report.bytes.size());
    const std::uint32_t length = state.queue[pick].length;
    report.length = length == 0 || length > input_report_size ? input_report_size : length;
    std::copy(state.queue + pick + 1, state.queue + state.queue_count, state.queue + pick);
    --state.queue_count;
    return report;
}

void clear_reports(device_state& state) {
    state.queue_count = 0;
}

std::int64_t next_event_ns(const device_state& state) {
    std::int64_t next = std::numeric_limits<std::int64_t>::max();
    for (std::size_t i = 0; i < state.queue_count; ++i) {
        next = std::min(next, state.queue[i].deliver_at_ns);
    }
    if (state.mode == usb_mode::absent && state.return_mode != usb_mode::absent) {
        next = std::min(next, state.return_at_ns);
    }
    if (state.mode != usb_mode::absent && armed(state, fault_kind::stream)) {
        next = std::min(next, state.stream_next_ns);
    }
    return std::min(next, chaos_next_event_ns(state));
}

int take_fired_kill(device_state& state) {
    constexpr int sigkill = 9;  // Linux's number, also for the stand-in under Wine
    for (std::uint32_t i = 0; i < state.fault_count; ++i) {
        const fault_rule& rule = state.faults[i];
        if (rule.kind == fault_kind::kill && rule.seen > 0 && rule.seen >= rule.nth) {
            const int signal = rule.value == 0 ? sigkill : static_cast<int>(rule.value);
            remove_rule(state, i);
            return signal;
        }
    }
    return 0;
}

bool arm_fault(device_state& state, const fault_rule& rule) {
    if (state.fault_count >= max_fault_rules) {
        return false;
    }
    state.faults[state.fault_count++] = rule;
    return true;
}

}  // namespace sim

namespace sim {

void replug(device_state& state, usb_mode mode) {
    state.mode = mode;
    state.return_mode = usb_mode::absent;
    ++state.generation;
    clear_reports(state);
}

}  // namespace sim
