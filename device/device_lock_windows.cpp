// The one-run-per-device lock on Windows: a lock on the first byte of a file in the user's
// temporary folder, which Windows drops when its handle is closed or its process ends.
#include <windows.h>

#include <bit>
#include <string>

#include "device/device_lock_file.h"

namespace ostrel::lock_file {
namespace {

std::wstring wide(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        length);
    return result;
}

std::string utf8(const std::wstring& text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        length, nullptr, nullptr);
    return result;
}

}  // namespace

std::string directory() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    return length > 0 && length <= MAX_PATH ? utf8(std::wstring(folder, length)) : std::string();
}

outcome take(const std::string& path, handle& held) {
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return outcome::unavailable;
    }
    OVERLAPPED first_byte{};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &first_byte) != 0) {
        held = std::bit_cast<handle>(file);
        return outcome::held;
    }
    CloseHandle(file);
    return outcome::busy;
}

void release(handle held) {
    CloseHandle(std::bit_cast<HANDLE>(held));
}

}  // namespace ostrel::lock_file
