// The program's tasks against a device whose every answer comes from the fuzzer's bytes,
// through a hidapi stand-in that also keeps the program's clock. The first byte picks the
// options (-v, -r, -b, -x, -f with a small HEX file, -u with a Fullrom image; none picked
// means -v); the rest is the device's script: for each call, whether an open works, whether
// a write goes out, what a read delivers, of which length, how late. The clock is virtual
// time that moves only with the program's waits and, by 1 us, with every reading. Once the
// script is used up the device is gone: opens fail, writes fail, reads wait out their
// time-out.
//
// Checked: the program ends (a run that makes more calls, or waits longer, after its script
// ran out than any sequence of its time-outs allows is taken for a hang), with status 0 or
// 1; it closes what it opened, and only that; every request it sends has a sound layout for
// the identity of its handle (request_layout.h).
#include <hidapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "device/report.h"
#include "sim/bridge_flash.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/cli_run.h"
#include "tests/support/process.h"
#include "tests/support/request_layout.h"

struct hid_device_ {
    unsigned short product_id;
};

namespace {

// The run: the rest of its script, its virtual time, its open handles.
struct run_state {
    const std::uint8_t* script;
    std::size_t left;
    std::size_t calls_after_end;
    std::int64_t now_ns;
    std::int64_t end_of_script_ns;  // when the script ran out (-1: it did not)
    std::vector<hid_device*> handles;
} run;

[[noreturn]] void violation(const char* what) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

// False once the script is used up. After that, a connection's 15 s of attempts is some 120
// calls, a command's 1000 ms of 1 ms reads some 1000: no run of the program needs a
// hundredth of 200,000 calls, nor 600 s (every task connecting and timing out once more).
bool script_goes_on() {
    if (run.left > 0) {
        return true;
    }
    run.end_of_script_ns = run.end_of_script_ns < 0 ? run.now_ns : run.end_of_script_ns;
    if (++run.calls_after_end > 200'000 || run.now_ns - run.end_of_script_ns > 600'000'000'000) {
        violation("the program goes on calling a device that is gone");
    }
    return false;
}

std::uint8_t next_byte() {
    if (run.left == 0) {
        return 0;
    }
    --run.left;
    return *run.script++;
}

int send(hid_device* dev, bool feature, const unsigned char* data, size_t length) {
    if (const char* fault = ostrel::testing::request_fault(
            dev->product_id == ostrel::app_product_id, feature, {data, length})) {
        violation(fault);
    }
    return !script_goes_on() || (next_byte() & 15) == 0 ? -1 : static_cast<int>(length);
}

// The files of -f and -u: three pages of firmware and an image of the bridge.
struct files {
    ostrel::testing::temp_dir dir;

    files() {
        ostrel::testing::write_file(
            dir.file("app.hex"),
            ostrel::testing::hex_file(0x404000, ostrel::testing::random_bytes(3 * 512 - 100, 7),
                                      32));
        ostrel::testing::write_file(dir.file("bridge.fullrom"),
                                    sim::make_fullrom_image(42, "VXR NEW"));
    }
};

}  // namespace

namespace ostrel {

std::int64_t monotonic_ns() {
    run.now_ns += 1'000;
    return run.now_ns;
}

void sleep_ms(std::int64_t ms) {
    run.now_ns += std::max<std::int64_t>(ms, 0) * 1'000'000;
}

}  // namespace ostrel

extern "C" {

hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    if (!script_goes_on() || (next_byte() & 1) == 0) {
        return nullptr;
    }
    auto* info = new hid_device_info{};
    info->vendor_id = vendor_id;
    info->product_id = product_id;
    return info;
}

void hid_free_enumeration(hid_device_info* devs) {
    delete devs;  // never more than one
}

hid_device* hid_open(unsigned short /*vendor_id*/, unsigned short product_id,
                     const wchar_t* /*serial_number*/) {
    if (!script_goes_on() || (next_byte() & 3) == 0) {
        return nullptr;
    }
    return run.handles.emplace_back(new hid_device_{product_id});
}

// The script's device is listed without a path (the program then lists no Ostrel and opens
// the device by its ids), so nothing is opened by path.
hid_device* hid_open_path(const char* /*path*/) {
    return nullptr;
}

void hid_close(hid_device* dev) {
    const auto found = std::find(run.handles.begin(), run.handles.end(), dev);
    if (found == run.handles.end()) {
        violation("hid_close of a handle that is not open");
    }
    run.handles.erase(found);
    delete dev;
}

int hid_set_nonblocking(hid_device* /*dev*/, int /*nonblock*/) {
    return 0;
}

const char* hid_version_str(void) {
    return HID_API_VERSION_STR;
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    return send(dev, false, data, length);
}

int hid_send_feature_report(hid_device* dev, const unsigned char* data, size_t length) {
    return send(dev, true, data, length);
}

// One byte says what happens: nothing within the time-out, an error at once, or a report
// (then one byte for its length, one for how late it comes within the time-out, and its
// bytes, the script's next ones).
int hid_read_timeout(hid_device* /*dev*/, unsigned char* data, size_t length, int milliseconds) {
    if (!script_goes_on()) {
        ostrel::sleep_ms(milliseconds);
        return milliseconds < 0 ? -1 : 0;  // a blocking read of a device that is gone fails
    }
    const std::uint8_t what = next_byte();
    if (what % 8 < 2) {
        ostrel::sleep_ms(what % 8 == 0 ? milliseconds : 0);
        return what % 8 == 0 ? 0 : -1;
    }
    const std::size_t size = std::min<std::size_t>(next_byte() % 66, length);
    if (milliseconds > 0) {
        ostrel::sleep_ms(next_byte() % (std::int64_t{milliseconds} + 1));
    }
    const std::size_t given = std::min(size, run.left);
    std::memcpy(data, run.script, given);
    run.script += given;
    run.left -= given;
    return static_cast<int>(given);
}

}  // extern "C"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const files made;
    if (size == 0) {
        return 0;
    }
    // -u reads its half-megabyte file once, then checks and sums it whole, which costs more
    // than anything else the program does here: one input in four takes it.
    const std::pair<unsigned, std::vector<std::string>> options[] = {
        {0x01, {"-v"}},
        {0x02, {"-r"}},
        {0x04, {"-b"}},
        {0x08, {"-x", "KQWIPEZON"}},
        {0x10, {"-f", made.dir.file("app.hex")}},
        {0x60, {"-u", made.dir.file("bridge.fullrom")}}};
    std::vector<std::string> args;
    for (const auto& [bits, words] : options) {
        if ((data[0] & bits) == bits) {
            args.insert(args.end(), words.begin(), words.end());
        }
    }
    if (args.empty()) {
        args.push_back("-v");
    }
    run = {data + 1, size - 1, 0, 0, -1, {}};
    const auto result = ostrel::testing::run_cli(args);
    if (result.status != 0 && result.status != 1) {
        violation("an exit status other than 0 or 1");
    }
    if (!run.handles.empty()) {
        violation("a handle left open at the end of the run");
    }
    return 0;
}
