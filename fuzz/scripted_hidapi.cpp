// The hidapi stand-in of the device-reply fuzz target, and the program's clock (see
// fuzz/scripted_device.h). Bounded: a run that makes more calls after its script ran out
// than any sequence of the program's time-outs allows is taken for a hang and aborts.
#include <hidapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/clock.h"
#include "fuzz/scripted_device.h"

struct hid_device_ {
    unsigned short product_id;
};

namespace {

using ostrel::fuzz::script_stats;

// Calls after the end of the script: a connection's 15 s of attempts is some 120 calls,
// a command's 1000 ms of 1 ms reads some 1000; no run of the program needs a hundredth of
// this.
constexpr std::size_t max_calls_after_end = 200'000;
// Virtual time after the end of the script: every task connecting and timing out once
// more, generously.
constexpr std::int64_t max_ns_after_end = std::int64_t{600} * 1'000'000'000;

const std::uint8_t* script = nullptr;
std::size_t left = 0;
script_stats run_stats;
std::vector<hid_device*> handles;

[[noreturn]] void hang(const char* what) {
    std::fprintf(stderr, "the program does not end: %s\n", what);
    std::abort();
}

// Counts a call; false once the script is used up.
bool script_goes_on() {
    ++run_stats.calls;
    if (left > 0) {
        return true;
    }
    if (run_stats.end_of_script_ns < 0) {
        run_stats.end_of_script_ns = run_stats.now_ns;
    }
    if (++run_stats.calls_after_end > max_calls_after_end) {
        hang("too many hidapi calls to a device that is gone");
    }
    if (run_stats.now_ns - run_stats.end_of_script_ns > max_ns_after_end) {
        hang("too long waiting for a device that is gone");
    }
    return false;
}

std::uint8_t next_byte() {
    if (left == 0) {
        return 0;
    }
    --left;
    return *script++;
}

void wait_ms(std::int64_t ms) {
    run_stats.now_ns += ms * 1'000'000;
}

}  // namespace

namespace ostrel {

std::int64_t monotonic_ns() {
    run_stats.now_ns += 1'000;
    return run_stats.now_ns;
}

void sleep_ms(std::int64_t ms) {
    if (ms > 0) {
        wait_ms(ms);
    }
}

namespace fuzz {

void start_script(const std::uint8_t* data, std::size_t size) {
    for (hid_device* dev : handles) {
        delete dev;
    }
    handles.clear();
    script = data;
    left = size;
    run_stats = {};
}

const script_stats& stats() {
    return run_stats;
}

}  // namespace fuzz
}  // namespace ostrel

extern "C" {

int hid_init(void) {
    return 0;
}

int hid_exit(void) {
    return 0;
}

hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    if (!script_goes_on() || (next_byte() & 1) == 0) {
        return nullptr;
    }
    auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    if (info != nullptr) {
        info->vendor_id = vendor_id;
        info->product_id = product_id;
    }
    return info;
}

void hid_free_enumeration(hid_device_info* devs) {
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        std::free(devs);
        devs = next;
    }
}

hid_device* hid_open(unsigned short /*vendor_id*/, unsigned short product_id,
                     const wchar_t* /*serial_number*/) {
    if (!script_goes_on() || (next_byte() & 3) == 0) {
        return nullptr;
    }
    handles.push_back(new hid_device_{product_id});
    return handles.back();
}

void hid_close(hid_device* dev) {
    ++run_stats.calls;
    const auto found = std::find(handles.begin(), handles.end(), dev);
    if (found == handles.end()) {
        std::fprintf(stderr, "hid_close of a handle that is not open\n");
        std::abort();
    }
    handles.erase(found);
    delete dev;
}

int hid_set_nonblocking(hid_device* dev, int /*nonblock*/) {
    ++run_stats.calls;
    return dev != nullptr ? 0 : -1;
}

static int send(hid_device* dev, bool feature, const unsigned char* data, size_t length) {
    if (dev == nullptr || data == nullptr) {
        std::fprintf(stderr, "a request on a null handle\n");
        std::abort();
    }
    ostrel::fuzz::check_request(dev->product_id, feature, data, length);
    if (!script_goes_on() || (next_byte() & 15) == 0) {
        return -1;
    }
    return static_cast<int>(length);
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
int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
    if (dev == nullptr || data == nullptr) {
        std::fprintf(stderr, "a read on a null handle\n");
        std::abort();
    }
    if (!script_goes_on()) {
        if (milliseconds < 0) {
            return -1;  // a blocking read of a device that is gone
        }
        wait_ms(milliseconds);
        return 0;
    }
    const std::uint8_t what = next_byte();
    if (what % 8 == 0) {
        wait_ms(std::max(milliseconds, 0));
        return 0;
    }
    if (what % 8 == 1) {
        return -1;
    }
    const std::size_t size = std::min<std::size_t>(next_byte() % 66, length);
    if (milliseconds > 0) {
        wait_ms(next_byte() % (std::int64_t{milliseconds} + 1));
    }
    const std::size_t given = std::min(size, left);
    std::memcpy(data, script, given);
    script += given;
    left -= given;
    return static_cast<int>(given);
}

int hid_read(hid_device* dev, unsigned char* data, size_t length) {
    return hid_read_timeout(dev, data, length, -1);
}

int hid_get_feature_report(hid_device* /*dev*/, unsigned char* /*data*/, size_t /*length*/) {
    return -1;
}

const wchar_t* hid_error(hid_device* /*dev*/) {
    return L"scripted device";
}

}  // extern "C"
