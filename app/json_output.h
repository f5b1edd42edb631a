#pragma once

// The events of --json: one JSON object per line on standard output, each naming its kind
// in "event" (doc/usage.md, "JSON output", gives the schema). run_context writes them.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "app/tasks.h"

namespace ostrel {

// The schema's version, in the first event of every run. A new kind of event or a new
// member leaves it as it is; a member that changes its meaning or goes away raises it.
inline constexpr int json_schema = 1;

// The names of the tasks in the events.
inline constexpr const char* mcu_load_task = "mcu_load";            // -f
inline constexpr const char* bridge_update_task = "bridge_update";  // -u
inline constexpr const char* bridge_erase_task = "bridge_erase";    // -x

// {"event": kind}, its members to follow.
json_event make_event(std::string_view kind);

// A "version" event: `part`'s version `text` up to its first NUL, the padding of the
// device's replies.
json_event version_event(std::string_view part, std::string_view text);

// `event` as one line of JSON, without its line end. Bytes that are not UTF-8 (in a version
// from the device, in a file name) become U+FFFD, so that every line parses.
std::string json_line(const json_event& event);

}  // namespace ostrel
