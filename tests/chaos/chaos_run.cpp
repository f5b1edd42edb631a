#include "tests/chaos/chaos_run.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>

#include "sim/bridge_flash.h"
#include "sim/chaos.h"
#include "sim/inprocess_device.h"
#include "tests/chaos/request_layouts.h"
#include "tests/chaos/send_log.h"
#include "tests/chaos/time_bound.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/cli_run.h"
#include "tests/support/temp_dir.h"

namespace chaos_test {
namespace {

using bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t mcu_base = 0x404000;
constexpr std::uint64_t call_limit = 20'000'000;
// A page of 16 data chunks polled without waiting, or a queue of 63 reports read at once,
// takes far fewer calls than this while the virtual time stands still.
constexpr std::uint64_t stall_limit = 5'000;
constexpr std::size_t violations_kept = 4;

// The files every run works with, written once.
struct inputs {
    ostrel::testing::temp_dir dir;
    std::vector<bytes> hex_images;
    std::vector<std::string> hex_paths;
    bytes new_rom = sim::make_fullrom_image(42, "VXR NEW");
    bytes old_rom = sim::make_fullrom_image(41, "VXR OLD");
    std::string rom_path = dir.file("new.fullrom");

    inputs() {
        // One byte, two pages, a 16 KiB step and a tail, a whole first sector and a tail.
        const std::size_t sizes[] = {1, 1000, 0x5000, 0x1C001};
        for (const std::size_t size : sizes) {
            hex_images.push_back(
                ostrel::testing::random_bytes(size, static_cast<std::uint32_t>(size)));
            hex_paths.push_back(dir.file("image" + std::to_string(size) + ".hex"));
            ostrel::testing::write_file(hex_paths.back(),
                                        ostrel::testing::hex_file(mcu_base, hex_images.back()));
        }
        ostrel::testing::write_file(rom_path, new_rom);
    }
};

const inputs& files() {
    static const inputs in;
    return in;
}

struct area {
    std::uint32_t start;
    std::uint32_t size;
};
constexpr area config_bank[2] = {{0x00000, 0x8000}, {0x20000, 0x8000}};
constexpr area fw_bank[2] = {{0x08000, 0x18000}, {0x28000, 0x18000}};
constexpr area esm = {0x40000, 0x40000};

bool valid(const sim::device_state& s, area bank) {
    const std::uint8_t* trailer = s.bridge_flash + bank.start + bank.size - 16;
    const auto usable = [](std::uint8_t b) { return b != 0x00 && b != 0xFF; };
    return usable(trailer[0]) && usable(trailer[15]);
}

bool holds(const sim::device_state& s, area where, const bytes& image, area source) {
    const std::uint8_t* there = s.bridge_flash + where.start;
    return std::equal(there, there + where.size, image.begin() + source.start);
}

// The bank of each pair the bridge starts from (bank 1 when valid) is valid and holds the
// image's copy, and the esm region holds the image's.
bool bridge_runs(const sim::device_state& s, const bytes& image) {
    const auto good = [&](const area(&pair)[2]) {
        const area& bank = pair[valid(s, pair[1]) ? 1 : 0];
        return valid(s, bank) && holds(s, bank, image, pair[0]);
    };
    return good(config_bank) && good(fw_bank) && holds(s, esm, image, esm);
}

// A bank of the pair is valid, and every valid bank holds a whole copy, the old image's or
// the new one's: whichever valid bank the bridge starts from, it works.
bool pair_safe(const sim::device_state& s, const area (&pair)[2], const bytes& old_rom,
               const bytes& new_rom) {
    const auto whole = [&](const area& bank) {
        return holds(s, bank, old_rom, pair[0]) || holds(s, bank, new_rom, pair[0]);
    };
    return (valid(s, pair[0]) || valid(s, pair[1])) &&
           std::all_of(pair, pair + 2,
                       [&](const area& bank) { return !valid(s, bank) || whole(bank); });
}

bool bridge_safe(const sim::device_state& s, const inputs& in) {
    return pair_safe(s, config_bank, in.old_rom, in.new_rom) &&
           pair_safe(s, fw_bank, in.old_rom, in.new_rom);
}

// One bank of each pair valid, as a device that has been updated before has it.
bool one_bank_each(const sim::device_state& s) {
    return valid(s, config_bank[0]) != valid(s, config_bank[1]) &&
           valid(s, fw_bank[0]) != valid(s, fw_bank[1]);
}

bool bridge_erased(const sim::device_state& s) {
    return std::all_of(s.bridge_flash, s.bridge_flash + sim::bridge_flash_size,
                       [](std::uint8_t b) { return b == 0xFF; });
}

// The image at the start of the area, and the rest of its last page erased.
bool mcu_holds(const sim::device_state& s, const bytes& image) {
    const std::size_t padded = (image.size() + 511) / 512 * 512;
    return std::equal(image.begin(), image.end(), s.mcu_flash) &&
           std::all_of(s.mcu_flash + image.size(), s.mcu_flash + padded,
                       [](std::uint8_t b) { return b == 0xFF; });
}

// A device holding a mix of the old and the new bridge image, with one bank of each pair
// valid (sometimes both, sometimes none), an old microcontroller image, in either mode.
sim::inprocess_device& prepare_device(std::mt19937& dice, const inputs& in) {
    sim::device_options options;
    options.mode = dice() % 4 == 0 ? sim::usb_mode::bootloader : sim::usb_mode::application;
    auto& dev = sim::inprocess_device::reset(options);
    sim::device_state& s = dev.state();

    bytes flash = in.old_rom;
    for (const area& region : {config_bank[0], fw_bank[0], esm}) {
        if (dice() % 2 == 0) {  // this region is new already
            std::copy_n(in.new_rom.begin() + region.start, region.size,
                        flash.begin() + region.start);
        }
    }
    std::copy_n(flash.begin() + config_bank[0].start, config_bank[0].size,
                flash.begin() + config_bank[1].start);
    std::copy_n(flash.begin() + fw_bank[0].start, fw_bank[0].size,
                flash.begin() + fw_bank[1].start);
    for (const auto* pair : {config_bank, fw_bank}) {
        const unsigned pick = dice() % 8;  // 0-2 bank 0, 3-5 bank 1, 6 both, 7 none
        const bool keep[2] = {pick <= 2 || pick == 6, (pick >= 3 && pick <= 5) || pick == 6};
        for (int i = 0; i < 2; ++i) {
            if (!keep[i]) {
                flash[pair[i].start + pair[i].size - 16] = 0x00;
                flash[pair[i].start + pair[i].size - 1] = 0x00;
            }
        }
    }
    sim::load_bridge_flash(s, flash);

    std::uint32_t x = dice() | 1;  // xorshift32, four bytes a step
    for (std::size_t i = 0; i + 4 <= sizeof s.mcu_flash; i += 4) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        std::memcpy(s.mcu_flash + i, &x, 4);
    }
    return dev;
}

std::vector<std::string> with_files(const std::vector<std::string>& args, const std::string& hex,
                                    const std::string& rom) {
    std::vector<std::string> out;
    out.reserve(args.size());
    for (const std::string& a : args) {
        out.push_back(a == "HEX" ? hex : a == "FULLROM" ? rom : a);
    }
    return out;
}

bool has(const std::vector<std::string>& args, const char* option) {
    return std::find(args.begin(), args.end(), option) != args.end();
}

bool has_line(const std::string& text, const std::string& line) {
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);) {
        if (l == line) {
            return true;
        }
    }
    return false;
}

void note(std::vector<std::string>& violations, const std::string& text) {
    if (violations.size() < violations_kept) {
        violations.push_back(text);
    }
}

// Properties 1 to 3 over the device's record of one run.
void check_traffic(const sim::inprocess_device& dev, std::int64_t start_ns, const char* run,
                   std::vector<std::string>& violations) {
    const std::string prefix = std::string(run) + ": ";
    const std::vector<sim::request_record>& sent = sent_requests();
    for (const sim::request_record& record : sent) {
        if (const std::string error = layout_error(record); !error.empty()) {
            note(violations, prefix + "request " += error);
            break;
        }
    }
    const std::int64_t elapsed = dev.now_ns() - start_ns;
    const std::int64_t bound = time_bound_ns(sent, dev.opens);
    if (elapsed > bound) {
        note(violations, prefix + "took " + std::to_string(elapsed / 1'000'000) +
                             " ms, more than " + std::to_string(bound / 1'000'000) +
                             " ms for what it sent");
    }
    if (const std::string error = wait_error(sent, dev.opens); !error.empty()) {
        note(violations, prefix + error);
    }
}

struct goals {
    bool mcu;
    bool bridge;
    bool erase;
};

goals goals_of(const std::vector<std::string>& args) {
    const bool erase = has(args, "-x");
    return {has(args, "-f"), has(args, "-u") && !erase, erase};
}

ostrel::testing::cli_result run_guarded(sim::inprocess_device& dev,
                                        const std::vector<std::string>& args, const char* run,
                                        std::vector<std::string>& violations) {
    dev.requests.clear();
    dev.opens.clear();
    sent_requests().clear();
    dev.hid_calls = 0;
    dev.hid_call_limit = call_limit;
    dev.stall_limit = stall_limit;
    const std::int64_t start = dev.now_ns();
    ostrel::testing::cli_result result{-1, "", ""};
    try {
        result = ostrel::testing::run_cli(args);
    } catch (const sim::call_limit_reached& e) {
        note(violations, std::string(run) + ": " + e.what() + " without an end");
    }
    dev.hid_call_limit = 0;
    dev.stall_limit = 0;
    check_traffic(dev, start, run, violations);
    return result;
}

// Property 4: what the run claims against what the device holds.
std::vector<std::string> false_claims(const ostrel::testing::cli_result& r, goals g,
                                      const sim::device_state& s, const bytes& hex_image,
                                      const bytes& rom) {
    std::vector<std::string> claims;
    const bool mcu_done = mcu_holds(s, hex_image);
    const bool bridge_done = bridge_runs(s, rom);
    const bool erased = bridge_erased(s);
    if (has_line(r.out, "Firmware load complete!") && !mcu_done) {
        claims.push_back("\"Firmware load complete!\" but the image is not in the flash");
    }
    if (has_line(r.out, "VXR firmware update complete!") && !bridge_done) {
        claims.push_back("\"VXR firmware update complete!\" but the bridge does not run the image");
    }
    if (has_line(r.out, "Complete") && !erased) {
        claims.push_back("\"Complete\" but the bridge's flash is not erased");
    }
    if (r.status == 0 &&
        ((g.mcu && !mcu_done) || (g.bridge && !bridge_done) || (g.erase && !erased))) {
        claims.push_back("status 0 but the work was not done");
    }
    return claims;
}

// A device left behind by the chaos mode is unplugged and plugged back; in the application
// when it had gone, or when the command has no -f to find it in its bootloader.
void replug_for(sim::device_state& s, goals g) {
    sim::end_chaos(s);
    sim::usb_mode mode = s.mode;
    if (mode == sim::usb_mode::absent || (mode == sim::usb_mode::bootloader && !g.mcu)) {
        mode = sim::usb_mode::application;
    }
    sim::replug(s, mode);
}

}  // namespace

const std::vector<task>& all_tasks() {
    static const std::vector<task> tasks = {
        {"-v", {"-v"}, {}},
        {"-r", {"-r"}, {}},
        {"-b", {"-b"}, {}},
        {"-x", {"-x", "KQWIPEZON"}, {"-x", "KQWIPEZON"}},
        {"-f", {"-f", "HEX"}, {"-f", "HEX"}},
        {"-u", {"-u", "FULLROM"}, {"-u", "FULLROM"}},
        {"-v -r -b", {"-v", "-r", "-b"}, {}},
        {"-f -u", {"-f", "HEX", "-u", "FULLROM"}, {"-f", "HEX", "-u", "FULLROM"}},
        {"-x -u", {"-x", "KQWIPEZON", "-u", "FULLROM"}, {"-x", "KQWIPEZON"}},
        {"-b -f", {"-b", "-f", "HEX"}, {"-f", "HEX"}},
        {"-r -u", {"-r", "-u", "FULLROM"}, {"-u", "FULLROM"}},
        {"-v -r -b -f -u",
         {"-v", "-r", "-b", "-f", "HEX", "-u", "FULLROM"},
         {"-f", "HEX", "-u", "FULLROM"}},
    };
    return tasks;
}

run_outcome run_chaos(const task& t, std::size_t task_index, std::uint32_t seed) {
    const inputs& in = files();
    std::mt19937 dice(seed * 7919u + static_cast<std::uint32_t>(task_index));
    const std::size_t weights[] = {1, 3, 4, 2};  // of the four HEX images
    const std::size_t pick =
        std::discrete_distribution<std::size_t>(std::begin(weights), std::end(weights))(dice);
    const bytes& hex_image = in.hex_images[pick];
    auto& dev = prepare_device(dice, in);
    sim::device_state& s = dev.state();

    run_outcome outcome;
    const std::uint32_t chaos_seed = seed * 0x9E3779B1u + static_cast<std::uint32_t>(task_index);
    const std::string rule = "chaos=" + std::to_string(chaos_seed);
    dev.arm(rule);
    const std::vector<std::string> args = with_files(t.args, in.hex_paths[pick], in.rom_path);
    outcome.replay = "seed " + std::to_string(seed) + ", " + rule + ", ostrel_firmware_update";
    for (const std::string& a : args) {
        outcome.replay += " " + a;
    }
    const goals g = goals_of(args);
    const bool safe_before = g.bridge && one_bank_each(s) && bridge_safe(s, in);
    const auto result = run_guarded(dev, args, "chaos run", outcome.violations);
    outcome.elapsed_ns = dev.requests.empty() ? 0 : dev.now_ns() - dev.requests.front().time_ns;
    outcome.requests = dev.requests.size();
    outcome.disturbed = s.chaos.disturbed;
    outcome.blind = s.chaos.blind_spots > 0;
    std::copy(std::begin(s.chaos.acts), std::end(s.chaos.acts), outcome.acts.begin());
    outcome.claimed = has_line(result.out, "Firmware load complete!") ||
                      has_line(result.out, "VXR firmware update complete!") ||
                      has_line(result.out, "Complete") ||
                      (result.status == 0 && (g.mcu || g.bridge || g.erase));
    if (result.status != 0 && result.status != 1 && result.status != -1) {
        note(outcome.violations, "chaos run: exit status " + std::to_string(result.status));
    }
    auto claims = false_claims(result, g, s, hex_image, in.new_rom);
    if (safe_before && !bridge_safe(s, in)) {
        claims.push_back("a bank pair left without a valid whole copy");
    }
    if (!claims.empty()) {
        if (outcome.blind) {
            outcome.excused = true;
            outcome.unconfirmed = claims;
        } else {
            for (const std::string& c : claims) {
                note(outcome.violations, "chaos run: " + c);
            }
        }
    }
    if (t.repair.empty()) {
        return outcome;
    }
    replug_for(s, g);
    const std::vector<std::string> repair = with_files(t.repair, in.hex_paths[pick], in.rom_path);
    const goals rg = goals_of(repair);
    const auto fixed = run_guarded(dev, repair, "run without faults", outcome.violations);
    outcome.repaired = fixed.status == 0 && (!rg.mcu || mcu_holds(s, hex_image)) &&
                       (!rg.bridge || bridge_runs(s, in.new_rom)) &&
                       (!rg.erase || bridge_erased(s));
    if (!outcome.repaired) {
        note(outcome.violations, "run without faults did not finish the job: status " +
                                     std::to_string(fixed.status) + ", stderr: " + fixed.err);
    }
    return outcome;
}

std::uint32_t seeds_per_task(std::uint32_t build_default, bool from_environment) {
    const char* text = from_environment ? std::getenv("OSTREL_CHAOS_SEEDS") : nullptr;
    if (text == nullptr) {
        return build_default;
    }
    const unsigned long n = std::strtoul(text, nullptr, 10);
    return n == 0 ? build_default : static_cast<std::uint32_t>(n);
}

void figures::add(const run_outcome& o) {
    ++runs;
    claimed += o.claimed ? 1 : 0;
    blind += o.blind ? 1 : 0;
    excused += o.excused ? 1 : 0;
    repairs += o.repaired ? 1 : 0;
    requests += o.requests;
    disturbed += o.disturbed;
    deepest = std::max(deepest, o.requests);
    virtual_seconds += static_cast<double>(o.elapsed_ns) / 1e9;
    for (std::size_t i = 0; i < acts.size(); ++i) {
        acts[i] += o.acts[i];
    }
}

std::string figures::line() const {
    std::ostringstream text;
    text << runs << " runs, " << claimed << " claimed success, " << blind << " with a blind spot ("
         << excused << " of them an unconfirmed success or an unsafe bank pair), " << repairs
         << " repaired by a run without faults; " << requests << " requests, " << disturbed
         << " disturbed, deepest run " << deepest << " requests; "
         << static_cast<long>(virtual_seconds) << " s of virtual time";
    return text.str();
}

std::string figures::behaviours() const {
    std::string text;
    for (std::size_t i = 0; i < static_cast<std::size_t>(sim::chaos_act::count); ++i) {
        text += (i == 0 ? "" : ", ") +
                std::string(sim::chaos_act_name(static_cast<sim::chaos_act>(i))) + " " +
                std::to_string(acts[i]);
    }
    return text;
}

}  // namespace chaos_test
