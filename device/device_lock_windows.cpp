// The one-run-per-device lock on Windows: a lock on the first byte of a file in the user's
// temporary folder, which Windows drops when its handle is closed or its process ends.
#include <windows.h>

#include <bit>
#include <cstdlib>
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

// The system's words for the last error, without the line end it puts after them.
std::string last_error_text() {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring words = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
    LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' ||
                              words.back() == L' ' || words.back() == L'.')) {
        words.pop_back();
    }
    return words.empty() ? "error " + std::to_string(error) : utf8(words);
}

// Opens the lock file, making it when it is not there, never through a symbolic link or
// other reparse point (FILE_FLAG_OPEN_REPARSE_POINT opens the link itself, which is then
// refused). Made in the user's own temporary folder, it inherits that folder's rights.
HANDLE open_lock_file(const std::string& path, DWORD disposition) {
    return CreateFileW(wide(path).c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

std::string directory() {
    if (const wchar_t* chosen = _wgetenv(L"OSTREL_LOCK_DIR");
        chosen != nullptr && *chosen != L'\0') {
        const std::string folder = utf8(chosen);
        return folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
    }
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    return length > 0 && length <= MAX_PATH ? utf8(std::wstring(folder, length)) : std::string();
}

outcome take(const std::string& path, handle& held, std::string& why) {
    if (directory().empty()) {
        why =
            "cannot be made: the system gives no temporary folder (TEMP): set TEMP to a "
            "folder you can write to and try again";
        return outcome::unavailable;
    }
    HANDLE file = open_lock_file(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        why = "cannot be opened or made (" + last_error_text() + "): remove it and try again";
        return outcome::unavailable;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(file, &info) == 0 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        CloseHandle(file);
        why = "is a link or a folder, which is never followed: remove it and try again";
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

bool held_elsewhere(const std::string& path) {
    HANDLE file = open_lock_file(path, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Shared: two of these tries at once do not see each other.
    OVERLAPPED first_byte{};
    const bool held = LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &first_byte) == 0;
    CloseHandle(file);  // lets go of the shared lock if it was taken
    return held;
}

}  // namespace ostrel::lock_file
