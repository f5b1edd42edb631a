// The link to one Ostrel: opening each identity, the mode switch with the wait for the
// device to come back, and why a connection failed. The command channels are in
// device/command_channel.cpp.
#include "device/device_link.h"

#include <hidapi.h>

#include <utility>

#include "base/clock.h"
#include "base/stop_request.h"
#include "device/presence.h"
#include "device/transport.h"

namespace ostrel {

std::string hidapi_version() {
    const char* text = hid_version_str();
    return text != nullptr ? text : "unknown";
}
namespace {

// The pause between two attempts to open the device in its new identity.
constexpr std::int64_t reopen_interval_ms = 250;

// Whether more than one Ostrel is listed, in either identity.
bool several_listed() {
    return list_devices().size() > 1;
}

// Opens the device at `place` under `product_id` and makes the handle non-blocking; null
// when it is not there. With no place, the one listed under it, but none while several
// Ostrels are listed: the run claimed the only one, and one that came later may be another
// run's. With `nowhere`,
// none at all.
hid_device* open_device(const device_place& place, unsigned short product_id) {
    hid_device* handle = nullptr;
    if (place.nowhere) {
        return nullptr;
    }
    if (place.port.empty() && place.serial.empty() && place.path.empty()) {
        handle = several_listed() ? nullptr : hid_open(device_vendor_id, product_id, nullptr);
    } else if (const std::string path = path_at(place, product_id); !path.empty()) {
        handle = hid_open_path(path.c_str());
    }
    if (handle != nullptr) {
        hid_set_nonblocking(handle, 1);
    }
    return handle;
}

// Replaces `slot` with `handle`, closing what it held before.
void replace_handle(hid_device*& slot, hid_device* handle) {
    if (slot != nullptr && slot != handle) {
        hid_close(slot);
    }
    slot = handle;
}

// Waits for the device to come back under `product_id` after a mode switch sent at
// `start_ns`: an attempt every 250 ms, giving up once more than return_limit_ms have passed
// or a stop is requested.
hid_device* wait_for_device(const device_place& place, unsigned short product_id,
                            std::int64_t start_ns) {
    while (elapsed_ms(start_ns) <= return_limit_ms && stop_requested() == 0) {
        sleep_ms(reopen_interval_ms);
        if (hid_device* handle = open_device(place, product_id)) {
            return handle;
        }
    }
    return nullptr;
}

// Why `product_id` could not be reached, tried as `tried` (it and, for the bootloader, the
// application that would start it): a stop, a wait that ran out (`waited`), or else what
// the system lists at `place`.
connection failure(unsigned short product_id, std::initializer_list<unsigned short> tried,
                   const device_place& place, bool waited) {
    if (stop_requested() != 0) {
        return {link_outcome::stopped, product_id};
    }
    if (waited) {
        return {link_outcome::not_back, product_id};
    }
    if (device_listed(tried, place)) {
        return {link_outcome::no_access, product_id};
    }
    if (product_id != bootloader_product_id && device_listed({bootloader_product_id}, place)) {
        return {link_outcome::other_identity, product_id};
    }
    return {link_outcome::absent, product_id};
}

}  // namespace

device_link::device_link(device_link&& other) noexcept
    : on_wait(std::move(other.on_wait)),
      place(std::move(other.place)),
      bootloader_handle_(std::exchange(other.bootloader_handle_, nullptr)),
      app_handle_(std::exchange(other.app_handle_, nullptr)) {}

device_link& device_link::operator=(device_link&& other) noexcept {
    if (this != &other) {
        on_wait = std::move(other.on_wait);
        place = std::move(other.place);
        replace_handle(bootloader_handle_, std::exchange(other.bootloader_handle_, nullptr));
        replace_handle(app_handle_, std::exchange(other.app_handle_, nullptr));
    }
    return *this;
}

device_link::~device_link() {
    replace_handle(bootloader_handle_, nullptr);
    replace_handle(app_handle_, nullptr);
}

connection device_link::connect_app() {
    if (bootloader_handle_ == nullptr) {
        replace_handle(app_handle_, open_device(place, app_product_id));
        return app_handle_ != nullptr ? connection{link_outcome::opened, app_product_id}
                                      : failure(app_product_id, {app_product_id}, place, false);
    }
    // The bootloader is running: ask it to start the application and wait for it.
    replace_handle(app_handle_, nullptr);
    if (!send_output_report(bootloader_handle_, make_request('B'))) {
        return failure(app_product_id, {app_product_id}, place, false);
    }
    return await_return(app_handle_, app_product_id, monotonic_ns());
}

void device_link::start_application() {
    if (bootloader_handle_ == nullptr) {
        return;
    }
    static_cast<void>(send_output_report(bootloader_handle_, make_request('B')));
    replace_handle(bootloader_handle_, nullptr);
}

connection device_link::await_return(hid_device_*& slot, unsigned short product_id,
                                     std::int64_t start_ns) {
    if (on_wait) {
        on_wait(product_id);
    }
    slot = wait_for_device(place, product_id, start_ns);
    return slot != nullptr ? connection{link_outcome::opened, product_id}
                           : failure(product_id, {product_id}, place, true);
}

connection device_link::wait_for_app() {
    const std::int64_t start = monotonic_ns();
    replace_handle(app_handle_, open_device(place, app_product_id));
    if (app_handle_ != nullptr) {
        return {link_outcome::opened, app_product_id};
    }
    return await_return(app_handle_, app_product_id, start);
}

connection device_link::connect_bootloader() {
    constexpr unsigned short boot = bootloader_product_id;
    replace_handle(bootloader_handle_, open_device(place, boot));
    if (bootloader_handle_ != nullptr) {
        return {link_outcome::opened, boot};
    }
    // The application is running: ask it, on a handle of its own, to start the bootloader.
    hid_device* application = open_device(place, app_product_id);
    if (application == nullptr) {
        return failure(boot, {boot, app_product_id}, place, false);
    }
    const bool sent = send_feature_report(application, make_request('B'));
    hid_close(application);
    if (!sent) {
        return failure(boot, {boot, app_product_id}, place, false);
    }
    return await_return(bootloader_handle_, boot, monotonic_ns());
}

}  // namespace ostrel
