#pragma once

// The fault kinds of the virtual Ostrel, one row each: the rule parser (sim/fault_rules.cpp)
// takes their names and values from here, the model (sim/model.cpp) counts the requests each
// looks at and carries out what it does, and doc/virtual-device.md's table of fault kinds
// lists them in this order with these words (the build checks it, sim/CMakeLists.txt). A new
// kind is a row at the end, so that the kinds of rules armed in a state file keep their
// numbers, and its action in the model.
//
//   KIND(enumerator, name in the rule syntax, VALUE, requests looked at, what it does)
//
// VALUE: `unused`, the kind takes none (one given is kept and shown); `needed`, a rule
// without =VALUE is refused; `signal`, a Linux signal number, 1 to 64 (none: 9, SIGKILL).
// Requests looked at: `matching`, those of the rule's mode and command, counted in the
// rule's `seen` (it fires at each, or at the Nth); `every`, every request, counted; `none`,
// the kind acts as long as it is armed, whatever the requests.
#include <cstddef>
#include <cstdint>
#include <string_view>

// clang-format off
#define SIM_FAULT_KINDS(KIND) \
    KIND(no_reply,     "noreply",    unused, matching, "the device acts on the command but sends no reply") \
    KIND(refuse,       "refuse",     unused, matching, "the device refuses the command: reply `E` in application mode, status 0x01 in the bootloader") \
    KIND(stray,        "stray",      needed, matching, "VALUE unrelated input reports (first byte `?`) are queued before each reply") \
    KIND(no_return,    "noreturn",   unused, none,     "after a mode switch the device never comes back") \
    KIND(stream,       "stream",     unused, none,     "unrelated input reports arrive without end, one a millisecond") \
    KIND(unplug,       "unplug",     needed, every,    "the device leaves USB after VALUE requests (the last one's reply is lost)") \
    KIND(delay,        "delay",      needed, matching, "the reply comes VALUE ms late") \
    KIND(ack_no_write, "acknowrite", unused, matching, "the device acknowledges the command but changes nothing") \
    KIND(bad_status,   "badstatus",  unused, matching, "a report with status 0x01 is queued behind the reply") \
    KIND(denied,       "denied",     unused, none,     "the device is listed but cannot be opened, like a missing access right") \
    KIND(chaos,        "chaos",      needed, matching, "from the seed VALUE, the device misbehaves in arbitrary ways: the chaos mode") \
    KIND(kill,         "kill",       signal, matching, "the program that sent the matching request gets signal VALUE (default 9, SIGKILL) right after the device took it and logged it; the rule is then disarmed (only under `ostrel_sim run`)")
// clang-format on

namespace sim {

enum class fault_kind : std::uint8_t {
    none = 0,
#define SIM_FAULT_ENUMERATOR(kind, ...) kind,
    SIM_FAULT_KINDS(SIM_FAULT_ENUMERATOR)
#undef SIM_FAULT_ENUMERATOR
};

enum class fault_value : std::uint8_t { unused, needed, signal };
enum class fault_reach : std::uint8_t { matching, every, none };

struct fault_kind_row {
    const char* name;
    fault_kind kind;
    fault_value value;
    fault_reach reach;
};

inline constexpr fault_kind_row fault_kinds[] = {
#define SIM_FAULT_ROW(kind, name, value, reach, effect) \
    {name, fault_kind::kind, fault_value::value, fault_reach::reach},
    SIM_FAULT_KINDS(SIM_FAULT_ROW)
#undef SIM_FAULT_ROW
};

// What a rule of no kind (none, or a number no row has) is: nothing, looking at no request.
inline constexpr fault_kind_row no_fault_row{"?", fault_kind::none, fault_value::unused,
                                             fault_reach::none};

// The row of `kind`.
constexpr const fault_kind_row& fault_row(fault_kind kind) {
    const auto index = static_cast<std::size_t>(kind);
    return index > 0 && index <= std::size(fault_kinds) ? fault_kinds[index - 1] : no_fault_row;
}

// The row named `name` in the rule syntax; null when no kind has that name.
constexpr const fault_kind_row* fault_row_named(std::string_view name) {
    for (const fault_kind_row& row : fault_kinds) {
        if (name == row.name) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace sim
