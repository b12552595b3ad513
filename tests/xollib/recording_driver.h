// Passes every control node call of the library to the real system calls
// (answered by the emulator when run under quarlen-emu) and keeps a record
// of what reached the driver: the paths tried, the requests and their
// headers and frames.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "shell/bytes.h"
#include "xollib/xol_internal.h"

struct RecordedOpen {
    std::string path;
    bool opened;
};

struct RecordedIoctl {
    std::string path;
    unsigned long request;
    std::vector<uint8_t> header;  // the first 72 bytes (passthrough) or the 12-byte header
    std::vector<uint8_t> frame;   // the XIF frame of a passthrough
    int result;
};

class RecordingDriver final {
  public:
    RecordingDriver() {
        instance_ = this;
        static const XolDriverOps kOps = {&RecordingDriver::openOp, &RecordingDriver::ioctlOp,
                                          &RecordingDriver::closeOp};
        xolSetDriverOps(&kOps);
    }
    ~RecordingDriver() {
        xolSetDriverOps(nullptr);
        instance_ = nullptr;
    }
    RecordingDriver(const RecordingDriver&) = delete;
    RecordingDriver& operator=(const RecordingDriver&) = delete;

    void clear() {
        opens.clear();
        ioctls.clear();
    }
    std::vector<RecordedIoctl> passthroughs() const {
        std::vector<RecordedIoctl> out;
        for (const auto& r : ioctls) {
            if (r.request == kXolIoctlPassthrough)
                out.push_back(r);
        }
        return out;
    }
    // Paths tried, in order, without repeats of the same path in a row.
    std::vector<std::string> pathsTried() const {
        std::vector<std::string> out;
        for (const auto& o : opens) {
            if (out.empty() || out.back() != o.path)
                out.push_back(o.path);
        }
        return out;
    }

    std::vector<RecordedOpen> opens;
    std::vector<RecordedIoctl> ioctls;
    int openDescriptors = 0;

  private:
    static int openOp(const char* path, int flags) {
        const int fd = ::open(path, flags);
        instance_->opens.push_back({path, fd >= 0});
        if (fd >= 0) {
            instance_->paths_[fd] = path;
            ++instance_->openDescriptors;
        }
        return fd;
    }
    static int closeOp(int fd) {
        instance_->paths_.erase(fd);
        --instance_->openDescriptors;
        return ::close(fd);
    }
    static int ioctlOp(int fd, unsigned long request, void* argument) {
        RecordedIoctl r;
        r.path = instance_->paths_[fd];
        r.request = request;
        const auto* arg = static_cast<const uint8_t*>(argument);
        if (request == kXolIoctlPassthrough) {
            r.header.assign(arg, arg + kIoctlCmdHeaderSize);
            const uint32_t words = getLe32(arg, kIoctlCmdFrameWords);
            r.frame.assign(arg + kIoctlCmdFrame, arg + kIoctlCmdFrame + words * 4);
        } else {
            r.header.assign(arg, arg + kIoctlHeaderSize);
        }
        r.result = ::ioctl(fd, request, argument);
        instance_->ioctls.push_back(r);
        return r.result;
    }

    static inline RecordingDriver* instance_ = nullptr;
    std::map<int, std::string> paths_;
};

// True when the emulator answers the control nodes (the tests skip otherwise).
inline bool underEmulator() {
    return std::getenv("QUARLEN_EMU_STATE") != nullptr;
}
