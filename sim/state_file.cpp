// The state file of a device directory: mapping, lock, and the clock its processes share.
#include "sim/state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

state_file::~state_file() {
    release();
}

void state_file::release() {
    if (state_ != nullptr) {
        munmap(state_, sizeof(device_state));
        state_ = nullptr;
    }
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool state_file::map(int fd, std::string& error) {
    void* memory = mmap(nullptr, sizeof(device_state), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        error = std::string("cannot map the device state: ") + std::strerror(errno);
        close(fd);
        return false;
    }
    state_ = static_cast<device_state*>(memory);
    fd_ = fd;
    return true;
}

bool state_file::lock() const {
    int result = -1;
    do {
        result = flock(fd_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

void state_file::unlock() const {
    flock(fd_, LOCK_UN);
}

bool state_file::open(const std::string& dir, std::string& error) {
    release();
    const std::string path = state_path(dir);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = "no virtual device in " + dir + " (" + std::strerror(errno) + ")";
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size != static_cast<off_t>(sizeof(device_state))) {
        close(fd);
        error = path + " is not a device state of this version; make it again with init";
        return false;
    }
    if (!map(fd, error)) {
        return false;
    }
    if (state_->magic != state_magic || state_->layout_version != state_layout_version) {
        error = path + " is not a device state of this version; make it again with init";
        release();
        return false;
    }
    return true;
}

bool state_file::create(const std::string& dir, std::string& error) {
    release();
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        error = "cannot make " + dir + ": " + std::strerror(errno);
        return false;
    }
    const std::string path = state_path(dir);
    unlink(path.c_str());
    unlink(log_path(dir).c_str());
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(sizeof(device_state))) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    return map(fd, error);
}

std::int64_t state_clock_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace sim
