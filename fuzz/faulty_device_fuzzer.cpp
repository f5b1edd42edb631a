// The program's tasks against the in-process virtual device, with everything else from the
// fuzzer's bytes: the task (-u, -f, -x, the version reads and some of their combinations),
// the device's mode and which bridge banks are valid, up to four fault rules in the syntax
// of `ostrel_sim fault` (the chaos mode, sim/chaos.h, among them), and patches that make
// the Fullrom file differ from the old image the device holds. An unplug after at most
// `max_requests` requests cuts the run short (unless it falls on a mode switch): enough for
// a load, or for an update of the regions a few patches touch; the whole update under
// single faults is the brick-safety sweep's job.
//
// Checked after every run (abort on violation):
// - the run ends within the limits it waits under for what it sent, no wait for the device
//   goes on past 15 s, and it does not spin (it calls hidapi about once a millisecond);
// - every request is one the device knows, with a sound layout (request_layout.h), those
//   sent to a device that has gone included;
// - status 0, or 1 with a message; "Firmware load complete!", "VXR firmware update
//   complete!", "Complete", "No update to VXR firmware needed" and status 0 only for work
//   the device really did; after -u the bridge oracle's interruption_safe (each pair that
//   had a valid bank keeps one, every valid bank holds a whole old or new copy), whatever the
//   faults.
// What the host cannot see excuses the claims: the chaos mode's blind spots; a write
// acknowledged but not made of a bootloader request, of a bank's invalidation or of a block
// erase (nothing reads these back); a region whose bytes the image changes but not its sum
// (the device's checksum is the only comparison it offers). The chaos mode's blind spots
// excuse the banks too (a forged bank status names the running bank for writing).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>
#include <hidapi.h>

#include "sim/bridge_flash.h"
#include "sim/inprocess_device.h"
#include "sim/request_decode.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/bridge_oracle.h"
#include "tests/support/cli_run.h"
#include "tests/support/process.h"
#include "tests/support/request_layout.h"

namespace {

using image = std::vector<std::uint8_t>;
constexpr auto own_too = ostrel::testing::copy_match::written_or_own;

constexpr std::uint32_t flash_size = sim::bridge_flash_size;
constexpr std::uint32_t max_requests = 1200;
std::string run_text;  // the task and the faults of the run, for a finding's report
// What the program sent, a device there to take it or not (hid_write and
// hid_send_feature_report reach the stand-in through note_sent, the link's --wrap).
std::vector<sim::request_record> sent;

[[noreturn]] void violation(const char* what) {
    std::fprintf(stderr, "property violated: %s\nrun:%s\n", what, run_text.c_str());
    std::abort();
}

// The files and the device's starting state, made once.
struct fixture {
    image old_image = sim::make_fullrom_image(41, "VXR OLD");
    image new_image = image(flash_size + 64);  // the Fullrom file's bytes, patched each run
    image hex_image = ostrel::testing::random_bytes(0x2100, 5);  // 17 pages, two erases
    ostrel::testing::temp_dir dir;
    sim::device_state pristine{};  // the old bridge image, all banks valid, old firmware

    fixture() {
        ostrel::testing::write_file(dir.file("new.hex"),
                                    ostrel::testing::hex_file(0x404000, hex_image));
        sim::init_state(pristine, {.bank_status = 0x0F});
        std::copy(old_image.begin(), old_image.end(), pristine.bridge_flash);
        std::memset(pristine.mcu_flash, 0x5A, sizeof pristine.mcu_flash);
    }
};

fixture& files() {
    static fixture f;
    return f;
}

const char* const tasks[] = {
    "-u ROM",        "-f HEX",    "-x KQWIPEZON", "-v -r -b",
    "-f HEX -u ROM", "-b -f HEX", "-r -u ROM",    "-v -r -b -f HEX -u ROM"};

// A fault rule from the input.
std::string fault_rule(FuzzedDataProvider& in) {
    static const char* const kinds[] = {"refuse",    "noreply", "acknowrite", "delay",    "stray",
                                        "badstatus", "stream",  "denied",     "noreturn", "chaos"};
    static const char* const targets[] = {"",       ":app/T",  ":app/K",  ":app/A",
                                          ":app/D", ":boot/D", ":boot/P", ":boot/e"};
    const std::string kind = kinds[in.ConsumeIntegralInRange<std::size_t>(0, 9)];
    // A bootloader status has no code: one that comes late may be taken for the next
    // request's, and a refused chunk without its status passes for stored (the chaos mode
    // counts both blind spots). Delays and lost replies are the application's.
    const bool app = kind == "delay" || kind == "noreply";
    std::string rule = kind + targets[in.ConsumeIntegralInRange<std::size_t>(app, app ? 4 : 7)];
    if (kind == "chaos") {
        return rule + "=" + std::to_string(in.ConsumeIntegral<std::uint32_t>());
    }
    const auto nth = in.ConsumeIntegralInRange<std::uint32_t>(kind == "acknowrite", max_requests);
    rule += nth != 0 ? "@" + std::to_string(nth) : "";
    if (kind == "delay" || kind == "stray") {  // milliseconds late, or reports ahead
        rule += "=" + std::to_string(in.ConsumeIntegralInRange(1, kind == "delay" ? 1500 : 70));
    }
    return rule;
}

// Whether an "acknowrite[:MODE/C]@N" rule hid a request whose failure the host cannot see:
// one to the bootloader, a bank's invalidation, a block erase. (A data write that was not
// made shows in the bank's sum, read before its trailer is written.)
bool unmade(const std::string& rule) {
    if (rule.rfind("acknowrite", 0) != 0) {
        return false;
    }
    const std::size_t at = rule.find('@');
    const bool any = rule[10] == '@';
    const bool boot = rule.find("boot") != std::string::npos;
    std::uint32_t left = std::stoul(rule.substr(at + 1));
    for (const sim::request_record& r : sim::inprocess_device::current().requests) {
        const bool app = r.mode == sim::usb_mode::application;
        const sim::request_fields f = sim::decode_request(r.mode, r.bytes);
        if ((any || (f.command == static_cast<std::uint8_t>(rule[at - 1]) && boot != app)) &&
            --left == 0) {
            return !app || (f.command == 'A' && f.length == 1) || (f.command == 'D' && !f.sector);
        }
    }
    return false;
}

// The run ends within the limits it waits under for what it sent (and 3 ms of polling each),
// and 251 ms per attempt to open the device; a wait for the device (attempts to open one
// identity, 250 ms apart, nothing sent between them) gives up after 15 s.
void check_time(const sim::inprocess_device& dev, std::int64_t start_ns) {
    const auto& opens = dev.opens;
    std::int64_t bound_ms = 10 + 251 * static_cast<std::int64_t>(opens.size());
    // The longest the program waits after sending a request before it sends anything else:
    // the version reads begin none after 2 s; 'P' has the drain before it (64 reads of 1 ms
    // at most) and its reply; a bootloader 'D' waits not.
    const auto limit_ms = [](std::uint8_t c, bool app) {
        if (app) {
            return c == 'B' ? 0 : c == '*' ? 2010 : c == 'N' ? 3000 : 1000;
        }
        return c == 'P' ? 1065 : c == 'e' ? 1000 : c == 0x22 ? 10000 : c == '*' ? 10 : 0;
    };
    for (const sim::request_record& r : sent) {
        bound_ms += 3 + limit_ms(r.bytes[1], r.mode == sim::usb_mode::application);
    }
    const std::int64_t elapsed_ms = (dev.now_ns() - start_ns) / 1'000'000;
    if (elapsed_ms >= bound_ms) {
        violation("the run took longer than the limits of what it sent");
    }
    // Waiting, it calls hidapi about once a millisecond; a request takes a few calls more, a
    // flood of reports a read each.
    if (dev.hid_calls > 1000 + 100 * sent.size() + 4 * elapsed_ms) {
        violation("more hidapi calls than the run's waits allow: it spins");
    }
    std::size_t next = 0;
    std::size_t first = 0;  // the first attempt of the current wait
    for (std::size_t i = 1; i < opens.size(); ++i) {
        while (next < sent.size() && sent[next].time_ns <= opens[i - 1].time_ns) {
            ++next;
        }
        if ((next < sent.size() && sent[next].time_ns <= opens[i].time_ns) ||
            opens[i].product_id != opens[first].product_id ||
            opens[i].time_ns - opens[i - 1].time_ns < 249'000'000) {
            first = i;
        } else if (opens[i].time_ns - opens[first].time_ns > 15'251'000'000) {
            violation("a wait for the device went on past 15 s");
        }
    }
}

// The task (the command line) of the run.
std::string task;

bool asks(const char* option) {
    return task.find(option) != std::string::npos;
}

// What the run claimed against what the device holds; `before` is the bridge's flash at the
// start, `status` its bank status then.
void check_claims(const ostrel::testing::cli_result& result, const image& before,
                  std::uint8_t status) {
    const fixture& f = files();
    const auto said = [&result](const std::string& line) {
        return ("\n" + result.out).find("\n" + line + "\n") != std::string::npos;
    };
    sim::inprocess_device& dev = sim::inprocess_device::current();
    const sim::device_state& s = dev.state();
    const std::size_t padded = (f.hex_image.size() + 511) / 512 * 512;
    const bool loaded = std::equal(f.hex_image.begin(), f.hex_image.end(), s.mcu_flash) &&
                        std::all_of(s.mcu_flash + f.hex_image.size(), s.mcu_flash + padded,
                                    [](std::uint8_t b) { return b == 0xFF; });
    const bool erased = std::all_of(s.bridge_flash, s.bridge_flash + flash_size,
                                    [](std::uint8_t b) { return b == 0xFF; });
    // The decision compares each pair's bank in use (bank 1 when valid) and the esm region by
    // their sums, the only comparison the device offers: a region whose bytes the image
    // changes but not its sum is taken for up to date, and the host cannot tell.
    const auto area = [](std::size_t i) { return i < 4 ? sim::bridge_banks[i] : sim::bridge_esm; };
    const auto sum = [](const image& bytes, sim::bridge_area a) {
        return std::accumulate(&bytes[a.start], &bytes[a.start] + a.size, std::uint32_t{0});
    };
    const auto same = [&](std::size_t i) {
        return sum(before, area(i)) == sum(f.new_image, area(i));
    };
    bool sum_blind = false;
    for (std::size_t i = 0; i < 5; ++i) {
        const sim::bridge_area a = area(i);
        sum_blind =
            sum_blind || (same(i) && !std::equal(&before[a.start], &before[a.start] + a.size,
                                                 &f.new_image[a.start]));
    }
    const bool updated = sum_blind || ostrel::testing::update_finished(s, f.new_image, own_too);
    const bool unchanged = std::none_of(dev.requests.begin(), dev.requests.end(), [](auto& r) {
        return r.mode == sim::usb_mode::application && (r.bytes[1] == 'A' || r.bytes[1] == 'D');
    });
    const bool up_to_date = unchanged && (status & 0x03) != 0 && (status & 0x0C) != 0 &&
                            same((status & 0x02) != 0 ? 1 : 0) &&
                            same((status & 0x08) != 0 ? 3 : 2) && same(4);
    if ((said("Firmware load complete!") && !loaded) ||
        (said("VXR firmware update complete!") && !updated) || (said("Complete") && !erased) ||
        (said("No update to VXR firmware needed") && !up_to_date)) {
        violation("a success message for work the device does not bear out");
    }
    if (result.status == 0 && ((asks("-f") && !loaded) || (asks("-x") && !erased) ||
                               (asks("-u") && !updated && !up_to_date))) {
        violation("status 0 for work not done");
    }
}

// A request as the program sends it: its layout, and when and to which identity it went.
int note_sent(bool feature, const unsigned char* data, std::size_t length) {
    if (const char* fault = ostrel::testing::request_fault(feature, feature, {data, length})) {
        violation(fault);
    }
    sim::request_record r{};
    r.time_ns = sim::inprocess_device::current().now_ns();
    r.mode = feature ? sim::usb_mode::application : sim::usb_mode::bootloader;
    std::copy_n(data, r.bytes.size(), r.bytes.begin());
    sent.push_back(r);
    return 0;
}

}  // namespace

// The linker's --wrap gives these names, reserved as they are.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
int __real_hid_write(hid_device* dev, const unsigned char* data, size_t length);
int __real_hid_send_feature_report(hid_device* dev, const unsigned char* data, size_t length);
int __wrap_hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    return note_sent(false, data, length) + __real_hid_write(dev, data, length);
}
int __wrap_hid_send_feature_report(hid_device* dev, const unsigned char* data, size_t length) {
    return note_sent(true, data, length) + __real_hid_send_feature_report(dev, data, length);
}
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    fixture& f = files();
    static sim::inprocess_device& dev = sim::inprocess_device::reset();

    // The device: the old images, the bridge banks the input names valid (bits 4 to 7 of the
    // bank status as the input gives them), in either mode, back from a mode switch after 20
    // ms to 14 s.
    task = tasks[in.ConsumeIntegralInRange<std::size_t>(0, 7)];
    const auto status = in.ConsumeIntegral<std::uint8_t>();  // bits 0 to 3 the valid banks
    const bool bootloader = in.ConsumeIntegralInRange<int>(0, 3) == 0;
    sim::device_state& state = dev.state();
    std::memcpy(&state, &f.pristine, sizeof state);  // no handle outlives its run
    state.reenumeration_ms = in.ConsumeIntegralInRange(20u, 14'000u);
    state.bank_status = status;
    ostrel::testing::invalidate_banks(state.bridge_flash, status);
    sim::refresh_bridge(state);
    sim::replug(state, bootloader ? sim::usb_mode::bootloader : sim::usb_mode::application);
    const image before(state.bridge_flash, state.bridge_flash + flash_size);
    dev.requests.clear();
    dev.opens.clear();
    sent.clear();
    dev.hid_calls = 0;

    // The faults, and the unplug that ends the run.
    std::vector<std::string> rules(in.ConsumeIntegralInRange<std::size_t>(0, 4));
    std::generate(rules.begin(), rules.end(), [&in] { return fault_rule(in); });
    rules.push_back("unplug=" + std::to_string(in.ConsumeIntegralInRange(1u, max_requests)));
    run_text = " " + task + (bootloader ? ", bootloader" : "") + ", status " +
               std::to_string(status) + ", back in " + std::to_string(state.reenumeration_ms);
    for (const std::string& rule : rules) {
        dev.arm(rule);
        run_text += " " + rule;
    }

    // The Fullrom file: the old image with patches, one time in sixteen a little short or long.
    std::copy(f.old_image.begin(), f.old_image.end(), f.new_image.begin());
    const std::streamsize length = in.ConsumeIntegral<std::uint8_t>() < 240
                                       ? flash_size
                                       : flash_size - 64 + in.ConsumeIntegralInRange(0, 128);
    for (int i = 0; i < 8 && in.remaining_bytes() > 0; ++i) {
        const auto at = in.ConsumeIntegralInRange<std::uint32_t>(0, flash_size - 1);
        const auto bytes = in.ConsumeBytes<std::uint8_t>(
            std::min<std::size_t>(in.ConsumeIntegralInRange<std::size_t>(1, 16), flash_size - at));
        std::copy(bytes.begin(), bytes.end(), f.new_image.begin() + at);
    }
    ostrel::testing::write_file(f.dir.file("new.fullrom"),
                                std::string(f.new_image.begin(), f.new_image.begin() + length));

    std::vector<std::string> args;
    std::istringstream words(task);
    for (std::string w; words >> w;) {
        args.push_back(w == "HEX"   ? f.dir.file("new.hex")
                       : w == "ROM" ? f.dir.file("new.fullrom")
                                    : w);
    }
    const std::int64_t start_ns = dev.now_ns();
    const auto result = ostrel::testing::run_cli(args);

    check_time(dev, start_ns);
    for (const sim::request_record& r : dev.requests) {
        if ((r.mode == sim::usb_mode::application) != (r.via == sim::channel::feature)) {
            violation("a request on the other identity's channel");
        }
    }
    if (result.status != 0 && (result.status != 1 || result.err.empty())) {
        violation("an end other than status 0, or 1 with a message");
    }
    // Without faults (the unplug still armed), a run from the application, or with -f and no
    // version read that needs it, does the job; with -u, given the old image (patches may make
    // one the program refuses).
    if (rules.size() == 1 && state.fault_count == 1 && result.status != 0 &&
        (!bootloader || (asks("-f") && !asks("-v"))) &&
        (!asks("-u") || (length == flash_size && std::equal(f.old_image.begin(), f.old_image.end(),
                                                            f.new_image.begin())))) {
        violation("a run without faults failed");
    }
    if (state.chaos.blind_spots == 0 && std::none_of(rules.begin(), rules.end(), unmade)) {
        check_claims(result, before, status);
    }
    if (state.chaos.blind_spots == 0 && asks("-u") &&
        !ostrel::testing::interruption_safe(state, status, before, f.new_image, own_too)) {
        violation("a pair lost its last valid bank, or a valid bank holds a torn copy");
    }
    return 0;
}
