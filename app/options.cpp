#include "app/options.h"

#include <algorithm>
#include <array>

namespace ostrel {
namespace {

constexpr std::array<std::string_view, 11> plain_options{
    "-h", "--help", "-v", "-r", "-b", "-l", "-n", "--dry-run", "--json", "--force", "--version"};
constexpr std::array<std::string_view, 4> value_options{"-x", "-f", "-u", "-d"};

bool is_one_of(std::span<const std::string_view> options, const std::string& text) {
    return std::find(options.begin(), options.end(), text) != options.end();
}

}  // namespace

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

run_plan read_plan(std::span<const std::string> args) {
    run_plan plan;
    const auto given = [args](const char* text) { return find_option(args, text).found; };
    plan.help = given("-h") || given("--help");
    plan.version = given("--version");
    plan.dry_run = given("-n") || given("--dry-run");
    plan.json = given("--json");
    plan.force = given("--force");
    plan.list = find_option(args, "-l").found;
    plan.app_version = find_option(args, "-v").found;
    plan.bridge_version = find_option(args, "-r").found;
    plan.boot_version = find_option(args, "-b").found;
    plan.erase = find_option(args, "-x");
    plan.firmware = find_option(args, "-f");
    plan.update = find_option(args, "-u");
    // Every element after a value option is a value, even where it looks like an option
    // (and then is one as well): "-f -v" loads the file "-v" and shows the version.
    std::vector<bool> is_value(args.size(), false);
    for (std::size_t i = 1; i + 1 < args.size(); ++i) {
        if (is_one_of(value_options, args[i])) {
            is_value[i + 1] = true;
            if (const option_hit first = find_option(args, args[i]); first.value != args[i + 1]) {
                plan.problems.push_back(args[i] + " is given twice with different values (" +
                                        *first.value + ", " + args[i + 1] + "): give it once");
            }
        }
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (is_value[i] || is_one_of(plain_options, arg) || is_one_of(value_options, arg)) {
            continue;
        }
        plan.problems.push_back(arg.size() > 1 && arg.front() == '-'
                                    ? "unknown option " + arg
                                    : "unexpected argument " + arg +
                                          ": only -x, -f, -u and -d take a value");
    }
    return plan;
}

}  // namespace ostrel
