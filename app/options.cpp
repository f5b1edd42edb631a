#include "app/options.h"

namespace ostrel {

option_hit find_option(std::span<const std::string> args, const std::string& text) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == text) {
            option_hit hit{true, std::nullopt};
            if (i + 1 < args.size()) {
                hit.value = args[i + 1];
            }
            return hit;
        }
    }
    return {};
}

}  // namespace ostrel
