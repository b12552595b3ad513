// Whole-file read and write for images, dumps and uploads. Reads go through
// the descriptor that was checked to be a regular file; writes replace the
// named file atomically (a temporary file beside it, fsync, rename), so a
// failed or interrupted write never leaves a half-written file behind and a
// symlink at the path is replaced, never followed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "shell/logger.h"
#include "shell/prompt.h"

namespace {

// Closes the descriptor on every path.
class FileFd final {
  public:
    explicit FileFd(int fd) : fd_(fd) {}
    ~FileFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileFd(const FileFd&) = delete;
    FileFd& operator=(const FileFd&) = delete;
    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // Closes now and reports whether the close itself failed.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool writeAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0)
            return false;
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool isDeviceOrFifo(mode_t mode) {
    return S_ISCHR(mode) || S_ISBLK(mode) || S_ISFIFO(mode);
}

// An existing device node or FIFO is written in place: it cannot be renamed
// over. 0 ok, 1 failure reported, 2 the path turned out not to be one.
uint32_t writeInPlace(const char* path, const uint8_t* data, size_t length) {
    FileFd file(::open(path, O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    if (!file.isOpen()) {
        logError("Unable to open the file.");
        return 1;
    }
    struct stat st {};
    if (fstat(file.get(), &st) != 0 || !isDeviceOrFifo(st.st_mode))
        return 2;
    if (!writeAll(file.get(), data, length) || !file.close()) {
        logError("Unable to write the contents");
        return 1;
    }
    return 0;
}

// A fresh name beside the target that nobody else holds: created with
// O_EXCL, so an existing file or symlink of that name is never opened.
int createTemporary(const std::string& path, std::string* tempPath) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long seed =
        static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(getpid()) << 16);
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005UL + 1442695040888963407UL;
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08lx.tmp", (seed >> 24) & 0xFFFFFFFFUL);
        *tempPath = dir + "." + base + suffix;
        const int fd =
            ::open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Makes the rename itself durable; a directory that cannot be synced (some
// file systems) does not undo a write that already happened.
void syncDirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    FileFd handle(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.isOpen())
        fsync(handle.get());
}

}  // namespace

uint32_t readWholeFile(const char* path, ByteBuffer* contents) {
    // Non-blocking so that a FIFO is refused instead of waiting for a writer.
    FileFd file(path != nullptr ? ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK) : -1);
    struct stat st {};
    if (!file.isOpen() || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        logError("Failed to open the specified file, please check the path or name of the file");
        return 1;
    }
    if (st.st_size < 0) {
        logError("Unable to get the file handle");
        return 1;
    }
    if (st.st_size == 0) {
        logError("File length is not sufficent, size is less than 1");
        return 1;
    }
    const size_t size = static_cast<size_t>(st.st_size);
    ByteBuffer buffer;
    if (static_cast<off_t>(size) != st.st_size || !buffer.allocate(size)) {
        logError("Unable to allocate memory.");
        return 1;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(file.get(), buffer.data() + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        // A file that shrank under us is as short as a failed read.
        if (got <= 0) {
            logError("File read operation failed");
            return 1;
        }
        done += static_cast<size_t>(got);
    }
    *contents = std::move(buffer);
    return 0;
}

uint32_t writeWholeFile(const char* path, const uint8_t* data, size_t length) {
    if (path == nullptr || path[0] == '\0' || (data == nullptr && length != 0)) {
        logError("Unable to open the file.");
        return 1;
    }
    struct stat existing {};
    const bool exists = lstat(path, &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        logError("Unable to open the file.");
        return 1;
    }
    if (exists && isDeviceOrFifo(existing.st_mode)) {
        const uint32_t status = writeInPlace(path, data, length);
        if (status != 2)
            return status;
    }
    const std::string target(path);
    std::string tempPath;
    FileFd file(createTemporary(target, &tempPath));
    if (!file.isOpen()) {
        logError("Unable to open the file.");
        return 1;
    }
    // A replaced regular file keeps its permissions.
    if (exists && S_ISREG(existing.st_mode))
        fchmod(file.get(), existing.st_mode & 07777);
    const bool written = writeAll(file.get(), data, length) && fsync(file.get()) == 0;
    if (!file.close() || !written || ::rename(tempPath.c_str(), path) != 0) {
        ::unlink(tempPath.c_str());
        logError("Unable to write the contents");
        return 1;
    }
    syncDirectoryOf(target);
    return 0;
}
