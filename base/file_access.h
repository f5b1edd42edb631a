#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The files named on the command line: their names as the system takes them, and reading
// one whole into memory, or the reason why it cannot be read. The names are UTF-8 on Windows
// (the wide entry point makes them so, whatever the code page) and the bytes as given
// elsewhere.
namespace ostrel {

// `name` as a path that the system's file functions take: converted from UTF-8 to the
// system's wide names on Windows, taken as it is elsewhere.
inline std::filesystem::path file_path(const std::string& name) {
    return {std::u8string(name.begin(), name.end())};
}

// Why a file could not be read.
enum class input_problem : std::uint8_t {
    none = 0,
    not_found,    // nothing of that name
    directory,    // a directory
    not_regular,  // a pipe, a device or a socket: it may wait for a writer or never end
    no_access,    // it is there but cannot be opened; `system_error` says why
    too_large,    // larger than the reader's limit, refused before it is read
    read_error,   // opened, but not read to its end
};

struct input_failure {
    input_problem problem = input_problem::none;
    int system_error = 0;  // the errno of a failed look-up or open, 0 when none is known
};

// The bytes of a file, or why there are none (the bytes are then empty).
struct input_file {
    std::vector<std::uint8_t> bytes;
    input_failure failure;

    explicit operator bool() const { return failure.problem == input_problem::none; }
    const std::vector<std::uint8_t>& operator*() const { return bytes; }
    const std::vector<std::uint8_t>* operator->() const { return &bytes; }
};

// Reads the regular file `path` whole, in binary mode on every platform (no line-end
// translation; a Ctrl-Z is a byte like any other). A file is looked at before it is opened:
// opening a pipe would wait for a writer, and a device such as /dev/zero never ends. A file
// larger than `limit` bytes is refused once opened, before any of it is read.
input_file read_input(const std::string& path, std::size_t limit);

// Why a file could not be read, as the user is told it, e.g. "No such file or directory".
std::string describe(const input_failure& failure);

}  // namespace ostrel
