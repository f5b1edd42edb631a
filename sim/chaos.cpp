// The chaos mode: what the device does with a request when the seed says it misbehaves.
// The rules are in sim/chaos.h.
#include "sim/chaos.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>

namespace sim {
namespace {

constexpr std::int64_t ns_per_ms = 1'000'000;
constexpr std::uint32_t rate_denominators[] = {2, 4, 16, 64, 512, 4096};
constexpr std::uint32_t longest_absence_ms = 20'000;
constexpr std::uint32_t longest_lateness_ms = 3'000;
constexpr std::uint32_t longest_storm_ms = 3'000;
constexpr std::uint32_t latest_unsolicited_ms = 2'000;
constexpr std::size_t most_reports = input_queue_capacity;

// splitmix64: the same numbers for the same input everywhere.
std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// The random numbers of one turn, from its key.
class dice {
  public:
    explicit dice(std::uint64_t key) : x_(key) {}
    std::uint64_t next() { return mix(x_++); }
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
    bool coin() { return (next() & 1) != 0; }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next()); }

  private:
    std::uint64_t x_;
};

const fault_rule* chaos_rule(const device_state& state, usb_mode mode, std::uint8_t command) {
    for (std::size_t i = 0; i < state.fault_count; ++i) {
        const fault_rule& rule = state.faults[i];
        if (rule.kind == fault_kind::chaos &&
            (rule.mode == usb_mode::absent || rule.mode == mode) &&
            (rule.command == 0 || rule.command == command)) {
            return &rule;
        }
    }
    return nullptr;
}

bool changes_flash(usb_mode mode, std::uint8_t command) {
    if (mode == usb_mode::application) {
        return command == 'A' || command == 'D';
    }
    return command == 'D' || command == 'P' || command == 'e' || command == 0x22;
}

// The reply code the host takes for "done".
std::uint8_t acceptance(usb_mode mode) {
    return mode == usb_mode::application ? '$' : 0x00;
}

std::uint8_t refusal(usb_mode mode, dice& d) {
    return mode == usb_mode::application ? 'E' : static_cast<std::uint8_t>(1 + d.below(255));
}

// A code that no command is waiting for: none of the application's reply codes (so that
// an unrelated report is never taken for a reply); in the bootloader every code but 0x00
// reads as a refusal.
std::uint8_t unrelated_code(usb_mode mode, dice& d) {
    constexpr std::string_view reply_codes("$ETKN*", 6);
    while (true) {
        const std::uint8_t code = d.byte();
        if (mode == usb_mode::bootloader
                ? code != 0x00
                : reply_codes.find(static_cast<char>(code)) == std::string_view::npos) {
            return code;
        }
    }
}

reply_bytes random_bytes(dice& d) {
    reply_bytes bytes{};
    for (std::uint8_t& b : bytes) {
        b = d.byte();
    }
    return bytes;
}

reply_bytes unrelated_report(usb_mode mode, dice& d) {
    reply_bytes report = random_bytes(d);
    report[0] = unrelated_code(mode, d);
    return report;
}

// A report a device could send when no request asked for it.
reply_bytes invented_report(usb_mode mode, std::uint8_t command, dice& d) {
    reply_bytes report = random_bytes(d);
    if (d.coin()) {
        report[0] = acceptance(mode);
        report[1] = command;
    } else if (mode == usb_mode::application) {
        constexpr std::uint8_t codes[] = {'T', 'K', 'N', '*', 'E'};
        report[0] = codes[d.below(std::size(codes))];
    }
    return report;
}

std::uint8_t other_code(dice& d) {
    constexpr std::uint8_t codes[] = {'$', 'E', 'T', 'K', 'N', '*', 'A', 'D', 'P', 'e', 0x00, 0x01};
    return d.below(4) == 0 ? d.byte() : codes[d.below(std::size(codes))];
}

// The reports one turn sends, gathered before any is queued.
struct outgoing {
    struct report {
        std::int64_t at;
        reply_bytes bytes;
        std::uint32_t length;
        bool earned;  // the reply of a command carried out (or not changing the flash), on time
    };
    std::array<report, most_reports> reports{};
    std::size_t count = 0;

    void add(std::int64_t at, const reply_bytes& bytes, bool earned, std::uint32_t length = 0) {
        if (count < reports.size()) {
            reports[count++] = {at, bytes, length, earned};
        }
    }
};

// Whether the turn gave the host an acceptance, or a bank status, it cannot tell from a
// real one.
bool blind_spot(usb_mode mode, std::uint8_t command, const chaos_turn& turn, const outgoing& out,
                bool still_present) {
    const auto* first = out.reports.data();
    const auto* last = first + out.count;
    if (std::any_of(first, last, [mode](const outgoing::report& r) {
            return !r.earned && (r.bytes[0] == acceptance(mode) ||
                                 (mode == usb_mode::application && r.bytes[0] == 'T'));
        })) {
        return true;
    }
    // The bootloader's data chunks need no reply: one dropped without a refusal passes.
    const bool refused = std::any_of(
        first, last, [mode](const outgoing::report& r) { return r.bytes[0] != acceptance(mode); });
    return mode == usb_mode::bootloader && command == 'D' && !turn.apply && still_present &&
           !refused;
}

// The device leaves USB and comes back as drawn; a mode switch that vanishes does the same.
void vanish(device_state& state, std::int64_t now_ns, dice& d) {
    const bool returns = d.below(8) != 0;
    const usb_mode next = d.coin() ? usb_mode::application : usb_mode::bootloader;
    leave_usb(state, now_ns, returns ? next : usb_mode::absent);
    state.return_at_ns =
        now_ns + static_cast<std::int64_t>(d.below(longest_absence_ms + 1)) * ns_per_ms;
}

// A report of a storm, drawn from the time it is sent at.
reply_bytes storm_report(usb_mode mode, std::int64_t at_ns) {
    dice d(static_cast<std::uint64_t>(at_ns));
    reply_bytes report{};
    report[0] = unrelated_code(mode, d);
    report[1] = 0x53;  // 'S'torm
    return report;
}

bool storming(const device_state& state) {
    const chaos_record& chaos = state.chaos;
    return state.mode != usb_mode::absent && chaos.storm_until_ns > 0 &&
           chaos.storm_next_ns <= chaos.storm_until_ns;
}

}  // namespace

chaos_turn chaos_begin(device_state& state, usb_mode mode, const request_bytes& request) {
    chaos_turn turn;
    const fault_rule* rule = chaos_rule(state, mode, request[1]);
    if (rule == nullptr) {
        return turn;
    }
    const std::uint64_t seed = mix(rule->value);
    turn.key = mix(seed ^ mix(++state.chaos.turns));
    dice d(turn.key);
    const std::uint32_t rate = rate_denominators[mix(seed + 1) % std::size(rate_denominators)];
    if (d.below(rate) != 0) {
        ++state.chaos.acts[0];
        return turn;
    }
    turn.act =
        static_cast<chaos_act>(1 + d.below(static_cast<std::uint32_t>(chaos_act::count) - 1));
    switch (turn.act) {
        case chaos_act::wrong_id:
        case chaos_act::random_reply:
        case chaos_act::silence:
        case chaos_act::vanish:
            turn.apply = d.coin();
            break;
        case chaos_act::refuse:
        case chaos_act::ack_only:
            turn.apply = false;
            break;
        default:
            break;
    }
    // A mode switch that is refused, ignored or only acknowledged does not happen.
    turn.ignore = request[1] == 'B' && !turn.apply && turn.act != chaos_act::vanish;
    ++state.chaos.disturbed;
    ++state.chaos.acts[static_cast<std::size_t>(turn.act)];
    return turn;
}

void chaos_finish(device_state& state, std::int64_t now_ns, usb_mode mode,
                  const request_bytes& request, const chaos_turn& turn,
                  const command_outcome& outcome) {
    dice d(~turn.key);
    const std::uint8_t command = request[1];
    if (state.mode != mode) {  // the request made the device leave USB: a mode switch
        if (turn.act == chaos_act::vanish) {
            vanish(state, now_ns, d);
        }
        return;
    }
    const std::int64_t at = now_ns + static_cast<std::int64_t>(state.reply_latency_us) * 1000;
    const bool replies = outcome.replies;
    const reply_bytes& reply = outcome.reply;
    const bool earned = turn.apply || !changes_flash(mode, command);
    outgoing out;
    switch (turn.act) {
        case chaos_act::wrong_id: {
            reply_bytes wrong = replies ? reply : random_bytes(d);
            wrong[0] = other_code(d);
            out.add(at, wrong, earned && replies && wrong == reply);
            break;
        }
        case chaos_act::short_reply:
            if (replies) {
                out.add(at, reply, earned, 1 + d.below(input_report_size - 1));
            }
            break;
        case chaos_act::random_reply: {
            const reply_bytes bytes = random_bytes(d);
            out.add(at, bytes, earned && replies && bytes == reply);
            break;
        }
        case chaos_act::refuse: {
            reply_bytes no{};
            no[0] = refusal(mode, d);
            no[1] = command;
            out.add(at, no, false);
            break;
        }
        case chaos_act::flood:
            for (std::uint32_t n = 1 + d.below(static_cast<std::uint32_t>(most_reports) - 2); n > 0;
                 --n) {
                out.add(at, unrelated_report(mode, d), false);
            }
            if (replies) {
                out.add(at, reply, earned);
            }
            break;
        case chaos_act::late:
            if (replies) {
                out.add(at + (1 + d.below(longest_lateness_ms)) * ns_per_ms, reply, false);
            }
            break;
        case chaos_act::unsolicited:
            if (replies) {
                out.add(at, reply, earned);
            }
            for (std::uint32_t n = 1 + d.below(3); n > 0; --n) {
                const std::int64_t when = at + d.below(latest_unsolicited_ms + 1) * ns_per_ms;
                out.add(when, replies && d.coin() ? reply : invented_report(mode, command, d),
                        false);
            }
            break;
        case chaos_act::ack_only: {
            reply_bytes yes = replies ? reply : reply_bytes{};
            if (changes_flash(mode, command)) {
                yes[0] = acceptance(mode);
                yes[1] = mode == usb_mode::bootloader ? command : 0;
            }
            out.add(at, yes, false);
            break;
        }
        case chaos_act::storm:
            if (replies) {
                out.add(at, reply, earned);
            }
            state.chaos.storm_next_ns = now_ns;
            state.chaos.storm_until_ns = now_ns + (1 + d.below(longest_storm_ms)) * ns_per_ms;
            break;
        default:  // silence, vanish: nothing goes out
            break;
    }
    if (turn.act == chaos_act::vanish) {
        vanish(state, now_ns, d);
    }
    const bool present = state.mode == mode;
    if (blind_spot(mode, command, turn, out, present)) {
        ++state.chaos.blind_spots;
    }
    for (std::size_t i = 0; present && i < out.count; ++i) {
        const auto& r = out.reports[i];
        queue_report(state, r.at, r.bytes, r.length);
    }
}

void chaos_settle(device_state& state, std::int64_t now_ns) {
    chaos_record& chaos = state.chaos;
    if (storming(state)) {
        stream_reports(state, chaos.storm_next_ns, now_ns, chaos.storm_until_ns, storm_report);
    }
}

std::int64_t chaos_next_event_ns(const device_state& state) {
    return storming(state) ? state.chaos.storm_next_ns : std::numeric_limits<std::int64_t>::max();
}

}  // namespace sim
