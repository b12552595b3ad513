#include "expander/post_validation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "expander/expander_access.h"
#include "expander/expander_images.h"
#include "expander/region_transfer.h"
#include "shell/byte_buffer.h"
#include "shell/logger.h"
#include "targets/device_fd.h"

namespace {

// "tempfile" in a directory of its own that only we can enter: a file or
// link of that name anywhere else is never touched, and both go away on
// every path.
class ScratchFile final {
  public:
    ScratchFile() = default;
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile() { remove(); }

    bool create() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = (base != nullptr && base[0] != '\0') ? base : "/tmp";
        pattern += "/quarlencli-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            return false;
        dir_ = pattern;
        file_ = dir_ + "/tempfile";
        fd_.reset(::open(file_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd_.isOpen())
            file_.clear();
        return fd_.isOpen();
    }
    int fd() const { return fd_.get(); }

    // False when the file or the directory could not be removed.
    bool remove() {
        bool ok = true;
        fd_.reset();
        if (!file_.empty() && ::unlink(file_.c_str()) != 0)
            ok = false;
        file_.clear();
        if (!dir_.empty() && ::rmdir(dir_.c_str()) != 0)
            ok = false;
        dir_.clear();
        return ok;
    }

  private:
    std::string dir_;
    std::string file_;
    DeviceFd fd_;
};

bool writeAll(int fd, const uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool readAllAt(int fd, uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, data + done, length - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

uint32_t postValidateFirmware(const uint8_t* image, uint32_t length) {
    Target* target = currentExpander();
    if (target == nullptr) {
        logError("Device not selected. Select a valid device.");
        logError("Post validation of FW image cannot be completed.");
        return 1;
    }
    uint8_t bufferId = kBufferIdFirmwareDownload;
    uint32_t size = 0;
    if (regionSize(target, 0, &bufferId, &size) != 0)
        return 1;

    ByteBuffer header;
    if (!header.allocate(kRegionHeaderSize)) {
        logError("Error in allocating memory.");
        return 1;
    }
    uint32_t held = 0;
    if (readRegionBytes(target, bufferId, kRegionHeaderSize, kRegionHeaderSize, header.data()) !=
            0 ||
        !regionHeaderImageLength(header.data(), header.size(), &held)) {
        logError("Error in reading FW header contents.");
        return 1;
    }
    if (held < size)
        size = held;
    if (size != length) {
        logError("Image length of FW file and uploaded region does not match.");
        return 1;
    }

    ScratchFile scratch;
    if (!scratch.create()) {
        logError("Error in opening specified file path.");
        return 1;
    }
    ByteBuffer region;
    if (!region.allocate(size)) {
        logError("Error in allocating memory.");
        return 1;
    }
    if (readRegionBytes(target, bufferId, size, kRegionChunkSize, region.data()) != 0) {
        logError("Post validation failed.");
        return 1;
    }
    if (!writeAll(scratch.fd(), region.data(), size)) {
        logError("Error in opening specified file path.");
        return 1;
    }
    // Compare what the file holds, not what we meant to write to it.
    std::memset(region.data(), 0, size);
    if (!readAllAt(scratch.fd(), region.data(), size)) {
        logError("Error in oepning file for reading.");
        return 1;
    }
    if (firstImageDifference(image, region.data(), length) != length) {
        logError("Post validation failed.");
        return 1;
    }
    const bool removed = scratch.remove();
    logPrintLine("Image post validated successfully.");
    if (!removed) {
        logError("Error in deleting the temporary file generated for post validation of FW image.");
        return 1;
    }
    return 0;
}
