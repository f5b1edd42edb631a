// Reading a file named on the command line whole, and the words for why it could not be.
#include "base/file_access.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ostrel {
namespace {

struct file_closer {
    // The file is only read: a failed close loses nothing.
    void operator()(std::FILE* file) const { static_cast<void>(std::fclose(file)); }
};

input_file failed(input_problem problem, int system_error = 0) {
    return {{}, {problem, system_error}};
}

// Opens `name` for reading its bytes as they are. Null, `failure` set, when it cannot be
// opened or, on POSIX systems, when what was opened is not a regular file: the open does not
// wait, so that a pipe put in the file's place after its status was taken cannot hold the
// run, and the check is made on what was opened.
std::FILE* open_regular(const std::string& name, input_failure& failure) {
#ifdef _WIN32
    std::FILE* file = _wfopen(file_path(name).c_str(), L"rb");  // names outside the ANSI code page
    if (file == nullptr) {
        failure = {input_problem::no_access, errno};
    }
    return file;
#else
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        failure = {input_problem::no_access, errno};
        return nullptr;
    }
    struct stat opened {};
    std::FILE* file = nullptr;
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        failure = {input_problem::not_regular, 0};
    } else if (file = fdopen(fd, "rb"); file == nullptr) {
        failure = {input_problem::no_access, errno};
    }
    if (file == nullptr) {
        static_cast<void>(close(fd));
    }
    return file;
#endif
}

}  // namespace

input_file read_input(const std::string& path, std::size_t limit) {
    const std::filesystem::path name = file_path(path);
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(name, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return failed(input_problem::not_found);
    }
    if (status.type() == std::filesystem::file_type::directory) {
        return failed(input_problem::directory);
    }
    // A status that could not be had (a folder on the way that may not be searched): opening
    // the file tells why.
    if (std::filesystem::status_known(status) &&
        status.type() != std::filesystem::file_type::regular) {
        return failed(input_problem::not_regular);
    }
    input_failure not_opened;
    const std::unique_ptr<std::FILE, file_closer> file(open_regular(path, not_opened));
    if (!file) {
        return {{}, not_opened};
    }
    const std::uintmax_t size = std::filesystem::file_size(name, error);
    if (error) {
        return failed(input_problem::read_error);
    }
    if (size > limit) {
        return failed(input_problem::too_large);
    }
    input_file input;
    std::vector<std::uint8_t>& bytes = input.bytes;
    // One piece for the whole file and a byte more, which shows its end, so that the bytes
    // are neither copied nor zeroed twice on the way; more pieces only for a file that grows
    // while it is read.
    std::size_t piece = static_cast<std::size_t>(size) + 1;
    while (bytes.size() <= limit) {
        const std::size_t want = std::min(piece, limit + 1 - bytes.size());
        const std::size_t had = bytes.size();
        bytes.resize(had + want);
        const std::size_t got = std::fread(bytes.data() + had, 1, want, file.get());
        bytes.resize(had + got);
        if (got < want) {
            break;
        }
        piece = std::size_t{64} * 1024;
    }
    if (std::ferror(file.get()) != 0) {
        return failed(input_problem::read_error);
    }
    if (bytes.size() > limit) {
        return failed(input_problem::too_large);
    }
    return input;
}

std::string describe(const input_failure& failure) {
    switch (failure.problem) {
        case input_problem::none:
            break;
        case input_problem::not_found:
            return std::strerror(ENOENT);
        case input_problem::directory:
            return std::strerror(EISDIR);
        case input_problem::not_regular:
            return "not a regular file (a pipe or a device cannot be read as an image)";
        case input_problem::no_access:
            return failure.system_error != 0 ? std::strerror(failure.system_error)
                                             : "cannot be opened";
        case input_problem::too_large:
            return "larger than any file the program reads";
        case input_problem::read_error:
            return "could not be read to its end";
    }
    return "read";
}

}  // namespace ostrel
