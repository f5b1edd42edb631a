// A stand-in for the hidapi C API that puts the virtual Ostrel where real HID devices
// would be. It behaves as the hidraw backend does towards the program: requests of 65
// bytes with the report number first, input reports of 64 bytes read from byte 0,
// 0 from a read that times out, -1 from any call on a device that has left USB. Each call
// holds the device while it works on it (sim/backend.h), so that several processes can
// share one device.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <hidapi.h>

#include "sim/backend.h"

struct hid_device_ {
    std::size_t index;  // the device's place among those on the virtual USB
    std::uint16_t product_id;
    std::uint32_t generation;
    bool nonblocking;
    hid_device_info* info;
    // This handle's own copies of the reports that arrived while other handles were open:
    // hidraw gives every reader a copy of each report, in a buffer of its own.
    std::deque<sim::input_report> own{};
};

namespace {

using sim::device_state;
using sim::backend::device_hold;

const wchar_t* last_error = L"Success";

// The open handles, and the device each index was last seen with (a test may replace the
// devices).
std::vector<hid_device*> open_handles;
std::vector<const device_state*> handles_devices;

// The open handles that still talk to device `index` as it is now. One vector serves every
// call, valid until the next, so that a read allocates nothing.
const std::vector<hid_device*>& live_handles(std::size_t index, const device_state& state) {
    if (handles_devices.size() <= index) {
        handles_devices.resize(index + 1, nullptr);
    }
    if (&state != handles_devices[index]) {
        std::erase_if(open_handles,
                      [index](const hid_device* handle) { return handle->index == index; });
        handles_devices[index] = &state;
    }
    static std::vector<hid_device*> live;
    live.clear();
    for (hid_device* handle : open_handles) {
        if (handle->index == index && state.mode != sim::usb_mode::absent &&
            handle->generation == state.generation &&
            handle->product_id == sim::product_id_of(state.mode)) {
            live.push_back(handle);
        }
    }
    return live;
}

// Hands each of `handles` a copy of every report that has arrived; each keeps at most 63,
// as the model's queue does.
void share_reports(device_state& state, std::int64_t now, const std::vector<hid_device*>& handles) {
    while (const auto report = sim::take_input_report(state, now)) {
        for (hid_device* handle : handles) {
            if (handle->own.size() + 1 < sim::input_queue_capacity) {
                handle->own.push_back(*report);
            }
        }
    }
}

// The next report for `dev`: its own copies first; the model's queue is read directly
// while no other handle is open.
std::optional<sim::input_report> next_report(device_state& state, hid_device* dev,
                                             std::int64_t now) {
    const std::vector<hid_device*>& handles = live_handles(dev->index, state);
    const bool alone = handles.size() <= 1;
    if (!alone) {
        share_reports(state, now, handles);
    }
    if (!dev->own.empty()) {
        const sim::input_report report = dev->own.front();
        dev->own.pop_front();
        return report;
    }
    return alone ? sim::take_input_report(state, now) : std::nullopt;
}

hid_device_info* make_info(std::size_t index, const device_state& state) {
    auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    if (info == nullptr) {
        return nullptr;
    }
    info->path = strdup(sim::backend::device_path(index).c_str());
    info->vendor_id = state.vendor_id;
    info->product_id = sim::product_id_of(state.mode);
    const std::string serial = sim::serial_number(state);
    info->serial_number = wcsdup(std::wstring(serial.begin(), serial.end()).c_str());
    info->release_number = 0x0100;
    info->manufacturer_string = wcsdup(L"Ostrel (virtual)");
    info->product_string =
        wcsdup(state.mode == sim::usb_mode::bootloader ? L"Ostrel bootloader" : L"Ostrel");
    info->usage_page = 0xFF00;
    info->usage = 0x01;
    info->interface_number = 0;
    info->bus_type = HID_API_BUS_USB;
    return info;
}

// The device's state if `dev` still talks to the device it was opened on.
device_state* reach(hid_device* dev) {
    device_state* state = dev != nullptr ? sim::backend::state(dev->index) : nullptr;
    if (state == nullptr) {
        return nullptr;
    }
    sim::settle(*state, sim::backend::now_ns());
    if (state->mode == sim::usb_mode::absent || state->generation != dev->generation ||
        sim::product_id_of(state->mode) != dev->product_id) {
        last_error = L"Device not connected";
        return nullptr;
    }
    return state;
}

int send(hid_device* dev, sim::channel via, const unsigned char* data, size_t length) {
    const device_hold hold(dev != nullptr ? dev->index : 0);
    device_state* state = reach(dev);
    // hidraw refuses a report shorter than the report-number byte and one byte after it.
    if (state == nullptr || data == nullptr || length < 2) {
        return -1;
    }
    sim::request_record record;
    if (!sim::receive(*state, sim::backend::now_ns(), via, {data, length}, record)) {
        return -1;
    }
    sim::backend::log_request(record, dev->index);
    // The whole write is taken, however much of it the device reads.
    return static_cast<int>(std::min<size_t>(length, INT_MAX));
}

int copy_string(const wchar_t* text, wchar_t* out, size_t max_length) {
    if (out == nullptr || max_length == 0) {
        return -1;
    }
    std::wcsncpy(out, text, max_length);
    out[max_length - 1] = L'\0';
    return 0;
}

// hid_open on device `index`, held by the caller.
hid_device* open_device(std::size_t index, unsigned short vendor_id, unsigned short product_id) {
    device_state* state = sim::backend::state(index);
    if (state == nullptr) {
        last_error = L"No HID devices found in the system.";
        return nullptr;
    }
    sim::settle(*state, sim::backend::now_ns());
    ++state->opens;
    const bool listed = sim::listed_as(*state, vendor_id, product_id);
    const bool opened = listed && sim::openable(*state);
    sim::backend::note_open(product_id, opened, index);
    if (!opened) {
        last_error = listed ? L"Permission denied" : L"No HID devices with requested VID/PID found";
        return nullptr;
    }
    auto* dev =
        new (std::nothrow) hid_device_{index, product_id, state->generation, false, nullptr};
    if (dev != nullptr) {
        // A new handle sees only reports that come after it; those that came before go to
        // the handles already open, or nowhere.
        const std::vector<hid_device*>& others = live_handles(index, *state);
        if (others.empty()) {
            sim::clear_reports(*state);
        } else {
            share_reports(*state, sim::backend::now_ns(), others);
        }
        open_handles.push_back(dev);
    }
    return dev;
}

// Whether device `index` is on USB under the ids (0: any) and, when `serial` is given, has
// that serial number.
bool listed(std::size_t index, unsigned short vendor_id, unsigned short product_id,
            const wchar_t* serial) {
    const device_hold hold(index);
    device_state* state = sim::backend::state(index);
    if (state == nullptr) {
        return false;
    }
    sim::settle(*state, sim::backend::now_ns());
    const std::string own = sim::serial_number(*state);
    return state->mode != sim::usb_mode::absent &&
           (vendor_id == 0 || vendor_id == state->vendor_id) &&
           (product_id == 0 || product_id == sim::product_id_of(state->mode)) &&
           (serial == nullptr || std::wstring(serial) == std::wstring(own.begin(), own.end()));
}

}  // namespace

extern "C" {

int hid_init(void) {
    return 0;
}

int hid_exit(void) {
    return 0;
}

hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    hid_device_info* first = nullptr;
    hid_device_info** tail = &first;
    for (std::size_t index = 0; index < sim::backend::device_count(); ++index) {
        if (!listed(index, vendor_id, product_id, nullptr)) {
            continue;
        }
        const device_hold hold(index);
        if (hid_device_info* info = make_info(index, *sim::backend::state(index))) {
            *tail = info;
            tail = &info->next;
        }
    }
    return first;
}

void hid_free_enumeration(hid_device_info* devs) {
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

// The first device listed under the ids, as hidapi does; one that is not listed is tried on
// the first device, which then tells why it cannot be opened.
hid_device* hid_open(unsigned short vendor_id, unsigned short product_id,
                     const wchar_t* serial_number) {
    std::size_t index = 0;
    while (index < sim::backend::device_count() &&
           !listed(index, vendor_id, product_id, serial_number)) {
        ++index;
    }
    index = index < sim::backend::device_count() ? index : 0;
    const device_hold hold(index);
    return open_device(index, vendor_id, product_id);
}

hid_device* hid_open_path(const char* path) {
    for (std::size_t index = 0; path != nullptr && index < sim::backend::device_count(); ++index) {
        if (sim::backend::device_path(index) == path) {
            const device_hold hold(index);
            device_state* state = sim::backend::state(index);
            sim::settle(*state, sim::backend::now_ns());
            return open_device(index, state->vendor_id, sim::product_id_of(state->mode));
        }
    }
    return nullptr;
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    return send(dev, sim::channel::output, data, length);
}

int hid_send_feature_report(hid_device* dev, const unsigned char* data, size_t length) {
    return send(dev, sim::channel::feature, data, length);
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
    if (data == nullptr) {
        return -1;
    }
    const std::int64_t start = sim::backend::now_ns();
    // A blocking read (negative time-out) waits for an hour at most.
    const std::int64_t wait_ms = milliseconds < 0 ? 3'600'000 : milliseconds;
    const std::int64_t deadline = start + wait_ms * 1'000'000;
    while (true) {
        std::int64_t event = 0;
        {
            const device_hold hold(dev != nullptr ? dev->index : 0);  // let go before waiting
            device_state* state = reach(dev);
            if (state == nullptr) {
                return -1;
            }
            const std::int64_t now = sim::backend::now_ns();
            if (auto report = next_report(*state, dev, now)) {
                // A report cut short by the device delivers only its own bytes.
                const size_t n = std::min(length, report->length);
                std::memcpy(data, report->bytes.data(), n);
                return static_cast<int>(n);
            }
            if (now >= deadline) {
                return 0;
            }
            event = sim::next_event_ns(*state);
        }
        if (event < deadline) {
            sim::backend::wait_for_event_ns(event);
        } else {
            sim::backend::wait_until_ns(deadline);
        }
    }
}

int hid_read(hid_device* dev, unsigned char* data, size_t length) {
    return hid_read_timeout(dev, data, length, dev != nullptr && dev->nonblocking ? 0 : -1);
}

int hid_set_nonblocking(hid_device* dev, int nonblock) {
    if (dev == nullptr) {
        return -1;
    }
    dev->nonblocking = nonblock != 0;
    return 0;
}

int hid_get_feature_report(hid_device* /*dev*/, unsigned char* /*data*/, size_t /*length*/) {
    last_error = L"Feature report reads are not supported by the device";
    return -1;
}

int hid_get_input_report(hid_device* /*dev*/, unsigned char* /*data*/, size_t /*length*/) {
    last_error = L"Input report reads are not supported by the device";
    return -1;
}

void hid_close(hid_device* dev) {
    if (dev != nullptr) {
        std::erase(open_handles, dev);
        hid_free_enumeration(dev->info);
        delete dev;
    }
}

int hid_get_manufacturer_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    const device_hold hold(dev != nullptr ? dev->index : 0);
    return reach(dev) != nullptr ? copy_string(L"Ostrel (virtual)", string, maxlen) : -1;
}

int hid_get_product_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    const device_hold hold(dev != nullptr ? dev->index : 0);
    return reach(dev) != nullptr ? copy_string(L"Ostrel", string, maxlen) : -1;
}

int hid_get_serial_number_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    const device_hold hold(dev != nullptr ? dev->index : 0);
    const device_state* state = reach(dev);
    if (state == nullptr) {
        return -1;
    }
    const std::string serial = sim::serial_number(*state);
    return copy_string(std::wstring(serial.begin(), serial.end()).c_str(), string, maxlen);
}

int hid_get_indexed_string(hid_device* /*dev*/, int /*string_index*/, wchar_t* /*string*/,
                           size_t /*maxlen*/) {
    return -1;
}

hid_device_info* hid_get_device_info(hid_device* dev) {
    const device_hold hold(dev != nullptr ? dev->index : 0);
    device_state* state = reach(dev);
    if (state == nullptr) {
        return nullptr;
    }
    if (dev->info == nullptr) {
        dev->info = make_info(dev->index, *state);
    }
    return dev->info;
}

const wchar_t* hid_error(hid_device* /*dev*/) {
    return last_error;
}

const hid_api_version* hid_version(void) {
    static const hid_api_version version{HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR,
                                         HID_API_VERSION_PATCH};
    return &version;
}

const char* hid_version_str(void) {
    return HID_API_VERSION_STR;
}

}  // extern "C"
