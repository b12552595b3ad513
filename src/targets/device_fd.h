// An owned file descriptor: closed when the owner goes away or is given
// another one. Keeps an expander's SCSI generic node open exactly as long as
// its record lives.
#pragma once

#include <unistd.h>

class DeviceFd final {
  public:
    DeviceFd() = default;
    explicit DeviceFd(int fd) : fd_(fd) {}
    ~DeviceFd() { reset(); }
    DeviceFd(const DeviceFd&) = delete;
    DeviceFd& operator=(const DeviceFd&) = delete;
    DeviceFd(DeviceFd&& other) noexcept : fd_(other.release()) {}
    DeviceFd& operator=(DeviceFd&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // Closes the current descriptor (if any) and takes ownership of fd.
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_ = -1;
};
