// The backend of the Windows stand-in libhidapi.dll, for the Windows program under Wine:
// the device lives in the state file of the directory named by OSTREL_SIM_DIR (a Linux
// path, set by `ostrel_sim run`), shared live with ostrel_sim and the Linux stand-in. The
// state is mapped through Windows (a mapping of a file on Wine's Unix side is the Linux
// file's shared mapping); the clock, the lock and a `kill` fault's signal are Linux's own
// (sim/windows/linux_calls.h), as in sim/backend_file.cpp, so that every process of the
// device reads one clock and takes one lock.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

#include "sim/backend.h"
#include "sim/state_file.h"
#include "sim/windows/linux_calls.h"

namespace sim::backend {
namespace {

// A Linux path as Wine takes it whatever its drive letters: \\?\unix\ and the path.
std::wstring wine_name(const std::string& linux_path) {
    const std::string name = "\\\\?\\unix" + linux_path;
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), wide.data(),
                        length);
    return wide;
}

struct wine_device {
    device_state* state = nullptr;
    std::int64_t lock_fd = -1;  // a Linux file descriptor of state.bin, for its flock
    HANDLE log = INVALID_HANDLE_VALUE;
    std::string path;  // "virtual:ostrel:" and the device directory's absolute path
    int pending_signal = 0;

    wine_device() {
        const char* dir = std::getenv("OSTREL_SIM_DIR");
        if (dir == nullptr || *dir != '/') {
            return;  // no virtual device: every open finds nothing
        }
        const std::string state_path = state_file::state_path(dir);
        HANDLE file = CreateFileW(wine_name(state_path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return;
        }
        LARGE_INTEGER size{};
        HANDLE mapping = nullptr;
        if (GetFileSizeEx(file, &size) != 0 &&
            size.QuadPart == static_cast<LONGLONG>(sizeof(device_state))) {
            mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
        }
        CloseHandle(file);  // the mapping keeps the file
        if (mapping == nullptr) {
            return;
        }
        auto* mapped = static_cast<device_state*>(
            MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(device_state)));
        CloseHandle(mapping);  // the view keeps the mapping
        if (mapped == nullptr || mapped->magic != state_magic ||
            mapped->layout_version != state_layout_version) {
            return;
        }
        lock_fd = linux_calls::open_read_only(state_path.c_str());
        log = CreateFileW(wine_name(state_file::log_path(dir)).c_str(), FILE_APPEND_DATA,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        path = std::string("virtual:ostrel:") + dir;  // `ostrel_sim run` gives it resolved
        state = mapped;
    }
};

wine_device& device() {
    static wine_device instance;
    return instance;
}

}  // namespace

// Under Wine the virtual USB holds the one device of OSTREL_SIM_DIR.
std::size_t device_count() {
    return device().state != nullptr ? 1 : 0;
}

device_state* state(std::size_t index) {
    return index == 0 ? device().state : nullptr;
}

void lock(std::size_t index) {
    if (index != 0) {
        return;
    }
    if (device().state != nullptr && device().lock_fd >= 0) {
        static_cast<void>(linux_calls::lock_exclusive(device().lock_fd));
    }
}

void unlock(std::size_t index) {
    if (index != 0 || device().state == nullptr) {
        return;
    }
    if (device().lock_fd >= 0) {
        linux_calls::unlock(device().lock_fd);
    }
    if (const int signal = std::exchange(device().pending_signal, 0); signal != 0) {
        linux_calls::signal_self(signal);
    }
}

std::string device_path(std::size_t index) {
    return index == 0 ? device().path : std::string();
}

std::int64_t now_ns() {
    return linux_calls::monotonic_ns();
}

void wait_until_ns(std::int64_t time_ns) {
    linux_calls::sleep_until_ns(time_ns);
}

void wait_for_event_ns(std::int64_t time_ns) {
    linux_calls::sleep_until_ns(time_ns);
}

void log_request(const request_record& record, std::size_t /*index*/) {
    if (device().log != INVALID_HANDLE_VALUE) {
        // One write per record: a record is in the log whole or not at all.
        DWORD written = 0;
        static_cast<void>(WriteFile(device().log, &record, sizeof record, &written, nullptr));
    }
    if (device().state != nullptr) {
        device().pending_signal = take_fired_kill(*device().state);  // sent by unlock()
    }
}

void note_open(std::uint16_t /*product_id*/, bool /*opened*/, std::size_t /*index*/) {}

}  // namespace sim::backend
