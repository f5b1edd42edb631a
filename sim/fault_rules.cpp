// The fault rule syntax of `ostrel_sim fault`:
//
//   KIND[:COMMAND][@N][=VALUE]
//
// KIND     a fault kind's name (sim/fault_kinds.h)
// COMMAND  one character, or 0xHH, optionally after "app/" or "boot/" to name the mode
//          (application/ and bootloader/ work too); without it the rule matches any command
// N        only the Nth matching request after the rule was armed (1 = the first);
//          without it every matching request
// VALUE    a number, decimal or hexadecimal after 0x; what it is, and whether the kind needs
//          one, is the kind's row
#include <charconv>
#include <csignal>
#include <cstdio>
#include <string_view>

#include "sim/model.h"

namespace sim {
namespace {

bool parse_number(std::string_view text, std::uint32_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool consume_prefix(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) == prefix) {
        text.remove_prefix(prefix.size());
        return true;
    }
    return false;
}

}  // namespace

std::optional<fault_rule> parse_fault_rule(const std::string& text, std::string& error) {
    std::string_view rest = text;
    fault_rule rule{};
    const std::size_t kind_end = rest.find_first_of(":@=");
    const std::string_view kind = rest.substr(0, kind_end);
    const fault_kind_row* found = fault_row_named(kind);
    if (found == nullptr) {
        error = "unknown fault kind '" + std::string(kind) + "'";
        return std::nullopt;
    }
    rule.kind = found->kind;
    rule.mode = usb_mode::absent;
    rest.remove_prefix(kind.size());

    if (consume_prefix(rest, ":")) {
        if (consume_prefix(rest, "application/") || consume_prefix(rest, "app/")) {
            rule.mode = usb_mode::application;
        } else if (consume_prefix(rest, "bootloader/") || consume_prefix(rest, "boot/")) {
            rule.mode = usb_mode::bootloader;
        }
        std::uint32_t code = 0;
        if (rest.size() >= 4 && rest.substr(0, 2) == "0x" &&
            parse_number(rest.substr(0, 4), code)) {
            rest.remove_prefix(4);
        } else if (!rest.empty()) {
            code = static_cast<unsigned char>(rest[0]);
            rest.remove_prefix(1);
        } else {
            error = "missing command after ':' in '" + text + "'";
            return std::nullopt;
        }
        rule.command = static_cast<std::uint8_t>(code);
    }
    if (consume_prefix(rest, "@")) {
        const std::size_t end = rest.find('=');
        if (!parse_number(rest.substr(0, end), rule.nth) || rule.nth == 0) {
            error = "bad occurrence number in '" + text + "'";
            return std::nullopt;
        }
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    if (consume_prefix(rest, "=")) {
        if (!parse_number(rest, rule.value) ||
            (found->value == fault_value::signal && (rule.value == 0 || rule.value >= NSIG))) {
            error = "bad value in '" + text + "'";
            return std::nullopt;
        }
        rest = {};
    } else if (found->value == fault_value::needed) {
        error = "fault '" + std::string(found->name) + "' needs =VALUE";
        return std::nullopt;
    }
    if (!rest.empty()) {
        error = "unexpected '" + std::string(rest) + "' in '" + text + "'";
        return std::nullopt;
    }
    return rule;
}

std::string format_fault_rule(const fault_rule& rule) {
    const fault_kind_row& row = fault_row(rule.kind);
    std::string text = row.name;
    if (rule.command != 0) {
        text += ':';
        if (rule.mode == usb_mode::application) {
            text += "app/";
        } else if (rule.mode == usb_mode::bootloader) {
            text += "boot/";
        }
        if (rule.command > 0x20 && rule.command < 0x7F && rule.command != '"' &&
            rule.command != '@' && rule.command != '=') {
            text += static_cast<char>(rule.command);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", rule.command);
            text += hex;
        }
    }
    if (rule.nth != 0) {
        text += '@' + std::to_string(rule.nth);
    }
    if (rule.value != 0 || row.value == fault_value::needed) {
        text += '=' + std::to_string(rule.value);
    }
    return text;
}

}  // namespace sim
