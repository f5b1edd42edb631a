#include "app/json_output.h"

namespace ostrel {

json_event make_event(std::string_view kind) {
    json_event event = json_event::object();
    event["event"] = kind;
    return event;
}

json_event version_event(std::string_view part, std::string_view text) {
    json_event event = make_event("version");
    event["part"] = part;
    event["text"] = text.substr(0, text.find('\0'));
    return event;
}

std::string json_line(const json_event& event) {
    return event.dump(-1, ' ', false, json_event::error_handler_t::replace);
}

}  // namespace ostrel
