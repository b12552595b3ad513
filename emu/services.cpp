#include "services.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace qemu {

namespace {

constexpr const char* kStateSuffix = ".state";
constexpr const char* kTempMarker = ".state.tmp.";
constexpr size_t kMaxFileName = 240;

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string errnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool writeAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

uint64_t VirtualClock::nowNs() const {
    if (realTime()) {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
    }
    return kVirtualEpochNs + elapsed_.load(std::memory_order_relaxed);
}

std::string stateFileName(const std::string& key) {
    if (key.empty())
        return {};
    std::string name;
    for (size_t i = 0; i < key.size(); ++i) {
        const auto c = static_cast<unsigned char>(key[i]);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || (c == '.' && i > 0);
        if (plain) {
            name.push_back(static_cast<char>(c));
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            name += escaped;
        }
    }
    name += kStateSuffix;
    if (name.size() > kMaxFileName)
        return {};
    return name;
}

bool makeDirectories(const std::string& dir, std::string* error) {
    if (dir.empty()) {
        if (error != nullptr)
            *error = "empty directory name";
        return false;
    }
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/')
            continue;
        const std::string prefix = dir.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            if (error != nullptr)
                *error = errnoText("cannot create", prefix);
            return false;
        }
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error != nullptr)
            *error = dir + " is not a directory";
        return false;
    }
    return true;
}

bool discardState(const std::string& dir, std::string* error) {
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) {
        if (errno == ENOENT)
            return true;
        if (error != nullptr)
            *error = errnoText("cannot list", dir);
        return false;
    }
    bool ok = true;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (!endsWith(name, kStateSuffix) && name.find(kTempMarker) == std::string::npos)
            continue;
        const std::string path = dir + "/" + name;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            if (error != nullptr)
                *error = errnoText("cannot remove", path);
            ok = false;
        }
    }
    ::closedir(listing);
    return ok;
}

FileServices::FileServices(std::string stateDir, std::string logPath, const VirtualClock& clock)
    : stateDir_(std::move(stateDir)), logPath_(std::move(logPath)), clock_(clock) {}

bool FileServices::loadState(const std::string& key, std::vector<uint8_t>* bytes) {
    const std::string name = stateFileName(key);
    if (name.empty() || bytes == nullptr)
        return false;
    const std::string path = stateDir_ + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<uint8_t> content;
    uint8_t chunk[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        content.insert(content.end(), chunk, chunk + n);
    }
    ::close(fd);
    if (!ok)
        return false;
    *bytes = std::move(content);
    return true;
}

bool FileServices::saveState(const std::string& key, const std::vector<uint8_t>& bytes) {
    const std::string name = stateFileName(key);
    if (name.empty() || !makeDirectories(stateDir_, nullptr))
        return false;
    const std::string path = stateDir_ + "/" + name;
    const std::string temp = stateDir_ + "/" + name + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    // rename replaces the old file in one step: a reader sees the old or the
    // new contents, never a mixture, even if this process dies half-way.
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

void FileServices::logLine(const std::string& line) {
    if (logPath_.empty())
        return;
    const uint64_t now = clock_.nowNs();
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%d %llu.%06llu ", static_cast<int>(::getpid()),
                  static_cast<unsigned long long>(now / 1000000000ull),
                  static_cast<unsigned long long>((now % 1000000000ull) / 1000ull));
    const std::string text = prefix + line + "\n";
    std::lock_guard<std::mutex> lock(logMutex_);
    const int fd = ::open(logPath_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    writeAll(fd, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    ::close(fd);
}

}  // namespace qemu
