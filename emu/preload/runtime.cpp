#include "runtime.h"

#include <fcntl.h>
#include <pthread.h>
#include <scsi/sg.h>
#include <sys/mman.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "config.h"
#include "next.h"
#include "request_stats.h"
#include "sg_ioctl.h"
#include "topology/loader.h"

namespace qemu::preload {

thread_local int Guard::depth_ = 0;

namespace {

constexpr const char* kSgClassDir = "/sys/class/scsi_generic";
constexpr const char* kSgPrefix = "/dev/sg";
constexpr unsigned kSgMajor = 21;
// Control nodes appear as misc character devices.
constexpr unsigned kControlMajor = 10;
constexpr unsigned kControlFirstMinor = 220;
constexpr ino_t kSgInodeBase = 0x51000000;
constexpr ino_t kControlInodeBase = 0x52000000;
constexpr int kMaxSgNumber = 1 << 20;
// The driver's passthrough request: IOC number at 0, frame words at 64, the
// frame from 68.
constexpr unsigned long kDriverPassthrough = 0xC0484C14;
constexpr size_t kPassthroughWordsOffset = 64;
constexpr size_t kPassthroughFrameOffset = 68;
constexpr uint32_t kMaxFrameWords = 128;
constexpr unsigned kDiskMajor = 8;
constexpr ino_t kDiskInodeBase = 0x53000000;
constexpr const char* kProcScsi = "/proc/scsi/scsi";
// Where the "link" form of it points (only its length is ever shown).
constexpr const char* kProcScsiLinkTarget = "/run/quarlen-emu/scsi";
constexpr unsigned long kScsiIoctlGetIdLun = 0x5382;

// The host's SCSI disk, CD and tape names belong to the emulator like the sg
// nodes: "/dev/sd" and 1 to 3 letters, "/dev/sr" or "/dev/st" and digits
// (so /dev/stdin and the like pass through).
bool isHostScsiPath(const std::string& path) {
    if (path.size() < 8 || path.compare(0, 6, "/dev/s") != 0)
        return false;
    const char kind = path[6];
    const std::string rest = path.substr(7);
    if (kind == 'd') {
        return rest.size() <= 3 &&
               std::all_of(rest.begin(), rest.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    }
    if (kind == 'r' || kind == 't') {
        return rest.size() <= 7 &&
               std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
    }
    return false;
}

VirtualClock g_clock;
std::atomic<int> g_realTime{-1};
std::atomic<int> g_emulatedFds{0};
std::atomic<int> g_emulatedDirs{0};

// Collapses repeated '/', drops "." components and a trailing '/'. Refuses
// relative paths and "..": those are never treated as emulated.
bool normalise(const char* path, std::string* out) {
    if (path == nullptr || path[0] != '/')
        return false;
    out->clear();
    const char* p = path;
    while (*p != '\0') {
        while (*p == '/')
            ++p;
        if (*p == '\0')
            break;
        const char* end = p;
        while (*end != '\0' && *end != '/')
            ++end;
        const size_t length = static_cast<size_t>(end - p);
        if (length == 2 && p[0] == '.' && p[1] == '.')
            return false;
        if (!(length == 1 && p[0] == '.')) {
            out->push_back('/');
            out->append(p, length);
        }
        p = end;
    }
    if (out->empty())
        out->push_back('/');
    return out->size() < PATH_MAX;
}

// "/dev/sgN" with N decimal without leading zeros.
bool parseSgPath(const std::string& path, int* number) {
    const size_t prefix = std::strlen(kSgPrefix);
    if (path.compare(0, prefix, kSgPrefix) != 0 || path.size() == prefix)
        return false;
    if (path.size() > prefix + 1 && path[prefix] == '0')
        return false;
    long value = 0;
    for (size_t i = prefix; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9')
            return false;
        value = value * 10 + (path[i] - '0');
        if (value >= kMaxSgNumber)
            return false;
    }
    *number = static_cast<int>(value);
    return true;
}

void complain(const std::string& message) {
    const std::string line = "quarlen-emu: " + message + "\n";
    if (::write(STDERR_FILENO, line.data(), line.size()) < 0) {
        // Nothing more can be done about a closed standard error.
    }
}

void fillCharDevice(struct stat* st, unsigned major, unsigned minor, ino_t inode,
                    const timespec& created) {
    std::memset(st, 0, sizeof *st);
    st->st_dev = makedev(0, 5);
    st->st_ino = inode;
    st->st_mode = S_IFCHR | 0660;
    st->st_nlink = 1;
    st->st_uid = getuid();
    st->st_gid = getgid();
    st->st_rdev = makedev(major, minor);
    st->st_blksize = 4096;
    st->st_atim = created;
    st->st_mtim = created;
    st->st_ctim = created;
}

struct OpenNode {
    enum class Kind { Sg, Control, Directory, Disk, File };
    Kind kind = Kind::Sg;
    int sgNumber = -1;
    SgNode* sg = nullptr;
    ControlNode* control = nullptr;
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
};

struct Listing {
    std::vector<std::string> names;
    size_t next = 0;
    int fd = -1;
    dirent entry{};
    dirent64 entry64{};
};

class Runtime final {
  public:
    static Runtime& instance();

    int open(const std::string& path, int flags);
    int stat(const std::string& path, struct stat* st, bool noFollow);
    int fstat(int fd, struct stat* st);
    int ioctl(int fd, unsigned long request, void* argument);
    void close(int fd);
    bool isDirFd(int fd);
    DIR* opendir();
    void adoptDir(DIR* dir, int fd);
    template <typename Entry>
    Entry* readdir(DIR* dir, bool* handled);
    void rewinddir(DIR* dir);
    void closedir(DIR* dir);
    // Adds this process's request totals into the --stats file.
    void writeStats();
    void clearStatsInChild() { stats_.clear(); }

  private:
    void countRequest(const OpenNode& node, unsigned long request, const void* argument);

    explicit Runtime(const EmuConfig& config);
    SgNode* findSg(int number);
    int findControl(const std::string& path, ControlNode** node);
    int openSg(int number, int flags);
    int openControl(const std::string& path, ControlNode* node, int flags);
    int openDirectory(int flags);
    HostDiskNode* findDisk(const std::string& path);
    int openDisk(const std::string& path, int flags);
    int openProcScsi(int flags);
    int handOut(const OpenNode& node, int flags);
    // Files a freshly opened descriptor under its inode, dropping whatever a
    // reused number still held; closes it and returns -errno if fstat fails.
    int track(int fd, OpenNode entry);
    OpenNode* lookup(int fd);
    void forget(int fd);
    std::vector<std::string> listingNames();

    std::mutex mutex_;
    FileServices services_;
    Models models_;
    std::string placeholder_;
    timespec created_{};
    std::unordered_map<int, OpenNode> fds_;
    std::unordered_map<DIR*, Listing> dirs_;
    const std::string statsPath_;
    RequestStats stats_;
};

std::atomic<Runtime*> g_runtime{nullptr};
std::mutex g_createMutex;

Runtime& Runtime::instance() {
    Runtime* runtime = g_runtime.load(std::memory_order_acquire);
    if (runtime != nullptr)
        return *runtime;
    Guard guard;
    std::lock_guard<std::mutex> lock(g_createMutex);
    runtime = g_runtime.load(std::memory_order_acquire);
    if (runtime == nullptr) {
        // Never destroyed: wrappers may run during and after static destruction.
        runtime = new Runtime(configFromEnvironment());
        g_runtime.store(runtime, std::memory_order_release);
    }
    return *runtime;
}

void writeStatsAtExit() {
    Runtime* runtime = g_runtime.load(std::memory_order_acquire);
    if (runtime != nullptr) {
        Guard guard;
        runtime->writeStats();
    }
}

Runtime::Runtime(const EmuConfig& config)
    : services_(config.stateDir, config.logPath, g_clock), statsPath_(config.statsPath) {
    // Totals are written by every emulated process, whatever it is; a forked
    // child counts only its own requests.
    std::atexit(writeStatsAtExit);
    pthread_atfork(nullptr, nullptr, [] {
        if (Runtime* runtime = g_runtime.load(std::memory_order_acquire); runtime != nullptr)
            runtime->clearStatsInChild();
    });
    clock_gettime(CLOCK_REALTIME, &created_);
    nlohmann::json topology;
    std::string error;
    bool ok = config.topologyPath.empty()
                  ? defaultTopology(&topology, &error)
                  : readTopologyFile(config.topologyPath, &topology, &error);
    ok = ok && checkTopologyShape(topology, &error) &&
         buildModels(topology, services_, &models_, &error);
    if (!ok)
        complain(error + "; no devices are emulated");

    // The listing directory needs a real directory behind it (fdopendir and
    // fstat work on the descriptor); an empty one in the state directory.
    placeholder_ = config.stateDir + "/.scsi_generic";
    if (!makeDirectories(placeholder_, nullptr)) {
        struct stat st {};
        placeholder_ = (::stat("/var/empty", &st) == 0 && S_ISDIR(st.st_mode)) ? "/var/empty" : "/";
    }
}

SgNode* Runtime::findSg(int number) {
    if (!models_.sg)
        return nullptr;
    for (const auto& [n, node] : models_.sg->listNodes()) {
        if (n == number)
            return node;
    }
    return nullptr;
}

int Runtime::findControl(const std::string& path, ControlNode** node) {
    if (!models_.controllers)
        return -1;
    int index = 0;
    for (const auto& [nodePath, control] : models_.controllers->nodes()) {
        std::string normal;
        if (normalise(nodePath.c_str(), &normal) && normal == path) {
            *node = control;
            return index;
        }
        ++index;
    }
    return -1;
}

std::vector<std::string> Runtime::listingNames() {
    std::vector<std::string> names{".", ".."};
    if (models_.sg) {
        for (const auto& entry : models_.sg->listNodes()) {
            names.push_back("sg" + std::to_string(entry.first));
        }
    }
    return names;
}

int Runtime::handOut(const OpenNode& node, int flags) {
    // A real descriptor with an inode of its own: numbers never collide with
    // the program's files, and a reused number is recognised by its inode.
    const std::string name = "quarlen-emu:" + node.path;
    // Control nodes are pipes: like the driver's nodes they take F_SETOWN and
    // O_ASYNC for event notification, which a memfd silently drops.
    int fd = node.kind == OpenNode::Kind::Control
                 ? -1
                 : memfd_create(name.c_str(), (flags & O_CLOEXEC) != 0 ? MFD_CLOEXEC : 0);
    if (fd < 0) {
        int ends[2];
        if (pipe2(ends, flags & O_CLOEXEC) != 0)
            return -errno;
        QEMU_REAL(close)(ends[1]);
        fd = ends[0];
    }
    return track(fd, node);
}

int Runtime::track(int fd, OpenNode entry) {
    struct stat st {};
    if (QEMU_REAL(fstat)(fd, &st) != 0) {
        const int error = errno;
        QEMU_REAL(close)(fd);
        return -error;
    }
    entry.dev = st.st_dev;
    entry.ino = st.st_ino;
    if (fds_.count(fd) != 0)
        forget(fd);
    fds_[fd] = entry;
    g_emulatedFds.fetch_add(1, std::memory_order_relaxed);
    return fd;
}

int Runtime::openSg(int number, int flags) {
    if ((flags & O_DIRECTORY) != 0)
        return -ENOTDIR;
    SgNode* node = findSg(number);
    if (node == nullptr)
        return -ENOENT;
    if ((flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL))
        return -EEXIST;
    const int refused = node->onOpen();
    if (refused < 0)
        return refused;
    OpenNode entry;
    entry.kind = OpenNode::Kind::Sg;
    entry.sgNumber = number;
    entry.sg = node;
    entry.path = kSgPrefix + std::to_string(number);
    const int fd = handOut(entry, flags);
    if (fd < 0)
        node->onClose();
    services_.logLine(entry.path + " open -> " + std::to_string(fd));
    return fd;
}

int Runtime::openControl(const std::string& path, ControlNode* node, int flags) {
    if ((flags & O_DIRECTORY) != 0)
        return -ENOTDIR;
    OpenNode entry;
    entry.kind = OpenNode::Kind::Control;
    entry.control = node;
    entry.path = path;
    return handOut(entry, flags);
}

HostDiskNode* Runtime::findDisk(const std::string& path) {
    if (!models_.controllers)
        return nullptr;
    for (HostDiskNode* disk : models_.controllers->disks()) {
        if (disk->path() == path)
            return disk;
    }
    return nullptr;
}

int Runtime::openDisk(const std::string& path, int flags) {
    if ((flags & O_DIRECTORY) != 0)
        return -ENOTDIR;
    HostDiskNode* disk = findDisk(path);
    if (disk == nullptr)
        return -ENOENT;
    OpenNode entry;
    entry.kind = OpenNode::Kind::Disk;
    entry.sg = disk;
    entry.path = path;
    return handOut(entry, flags);
}

// A read-only file holding the kernel's device list; reads and seeks work on
// the descriptor itself.
int Runtime::openProcScsi(int flags) {
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & O_DIRECTORY) != 0)
        return -EACCES;
    const std::string text = models_.controllers->procScsiText();
    int fd = memfd_create("quarlen-emu:/proc/scsi/scsi", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
    if (fd < 0)
        return -errno;
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        const int error = errno != 0 ? errno : EIO;
        QEMU_REAL(close)(fd);
        return -error;
    }
    OpenNode entry;
    entry.kind = OpenNode::Kind::File;
    entry.path = kProcScsi;
    return track(fd, entry);
}

int Runtime::openDirectory(int flags) {
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & O_CREAT) != 0)
        return -EISDIR;
    const int fd = QEMU_REAL(openat)(AT_FDCWD, placeholder_.c_str(), flags | O_DIRECTORY);
    if (fd < 0)
        return -errno;
    OpenNode entry;
    entry.kind = OpenNode::Kind::Directory;
    entry.path = kSgClassDir;
    return track(fd, entry);
}

int Runtime::open(const std::string& path, int flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path == kSgClassDir)
        return openDirectory(flags);
    int number = 0;
    if (parseSgPath(path, &number))
        return openSg(number, flags);
    ControlNode* control = nullptr;
    if (findControl(path, &control) >= 0)
        return openControl(path, control, flags);
    if (isHostScsiPath(path))
        return openDisk(path, flags);
    if (path == kProcScsi && models_.controllers) {
        const auto mode = models_.controllers->procScsiMode();
        if (mode == ControllerTopology::ProcScsi::Missing)
            return -ENOENT;
        if (mode == ControllerTopology::ProcScsi::Link && (flags & O_NOFOLLOW) != 0)
            return -ELOOP;
        return openProcScsi(flags);
    }
    return kPassThrough;
}

int Runtime::stat(const std::string& path, struct stat* st, bool noFollow) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path == kSgClassDir) {
        if (QEMU_REAL(stat)(placeholder_.c_str(), st) != 0)
            return -errno;
        st->st_mode = S_IFDIR | 0755;  // as sysfs shows it, whatever the placeholder's mode
        return 0;
    }
    int number = 0;
    if (parseSgPath(path, &number)) {
        if (findSg(number) == nullptr)
            return -ENOENT;
        fillCharDevice(st, kSgMajor, static_cast<unsigned>(number),
                       kSgInodeBase + static_cast<ino_t>(number), created_);
        return 0;
    }
    if (isHostScsiPath(path)) {
        const HostDiskNode* disk = findDisk(path);
        if (disk == nullptr)
            return -ENOENT;
        fillCharDevice(st, kDiskMajor, static_cast<unsigned>(disk->scsiId()),
                       kDiskInodeBase + static_cast<ino_t>(disk->scsiId()), created_);
        st->st_mode = S_IFBLK | 0660;
        return 0;
    }
    if (path == kProcScsi && models_.controllers) {
        if (models_.controllers->procScsiMode() == ControllerTopology::ProcScsi::Missing)
            return -ENOENT;
        fillCharDevice(st, 0, 0, kDiskInodeBase - 1, created_);
        st->st_mode = S_IFREG | 0444;
        st->st_size = 0;  // as procfs reports it
        if (noFollow && models_.controllers->procScsiMode() == ControllerTopology::ProcScsi::Link) {
            st->st_ino = kDiskInodeBase - 2;
            st->st_mode = S_IFLNK | 0777;
            st->st_size = static_cast<off_t>(std::strlen(kProcScsiLinkTarget));
        }
        return 0;
    }
    ControlNode* control = nullptr;
    const int index = findControl(path, &control);
    if (index < 0)
        return kPassThrough;
    fillCharDevice(st, kControlMajor, kControlFirstMinor + static_cast<unsigned>(index),
                   kControlInodeBase + static_cast<ino_t>(index), created_);
    return 0;
}

OpenNode* Runtime::lookup(int fd) {
    const auto it = fds_.find(fd);
    if (it == fds_.end())
        return nullptr;
    // The number may have been closed behind our back (fclose, closedir,
    // dup2) and reused: only the same inode is still ours.
    struct stat st {};
    if (QEMU_REAL(fstat)(fd, &st) != 0 || st.st_dev != it->second.dev ||
        st.st_ino != it->second.ino) {
        forget(fd);
        return nullptr;
    }
    return &it->second;
}

void Runtime::forget(int fd) {
    const auto it = fds_.find(fd);
    if (it == fds_.end())
        return;
    if (it->second.kind == OpenNode::Kind::Sg) {
        it->second.sg->onClose();
        services_.logLine(it->second.path + " close");
    }
    fds_.erase(it);
    g_emulatedFds.fetch_sub(1, std::memory_order_relaxed);
}

int Runtime::fstat(int fd, struct stat* st) {
    std::lock_guard<std::mutex> lock(mutex_);
    const OpenNode* node = lookup(fd);
    if (node == nullptr || node->kind == OpenNode::Kind::Directory ||
        node->kind == OpenNode::Kind::File)
        return kPassThrough;
    if (node->kind == OpenNode::Kind::Disk) {
        fillCharDevice(st, kDiskMajor, static_cast<unsigned>(node->sg->scsiId()),
                       kDiskInodeBase + static_cast<ino_t>(node->sg->scsiId()), created_);
        st->st_mode = S_IFBLK | 0660;
        return 0;
    }
    if (node->kind == OpenNode::Kind::Sg) {
        fillCharDevice(st, kSgMajor, static_cast<unsigned>(node->sgNumber),
                       kSgInodeBase + static_cast<ino_t>(node->sgNumber), created_);
        return 0;
    }
    ControlNode* control = nullptr;
    const int index = std::max(0, findControl(node->path, &control));
    fillCharDevice(st, kControlMajor, kControlFirstMinor + static_cast<unsigned>(index),
                   kControlInodeBase + static_cast<ino_t>(index), created_);
    return 0;
}

void Runtime::countRequest(const OpenNode& node, unsigned long request, const void* argument) {
    const auto* bytes = static_cast<const uint8_t*>(argument);
    // Host disk nodes (/dev/sdX) count with the sg nodes: SG_IO and ioctls.
    if (node.kind == OpenNode::Kind::Sg || node.kind == OpenNode::Kind::Disk) {
        if (request != SG_IO) {
            stats_.countSgIoctl(request);
            return;
        }
        const auto* header = static_cast<const sg_io_hdr_t*>(argument);
        const bool valid = header != nullptr && header->interface_id == 'S' &&
                           header->cmdp != nullptr && header->cmd_len > 0;
        stats_.countSgIo(valid ? header->cmdp : nullptr, valid ? header->cmd_len : 0);
        return;
    }
    stats_.countDriver(request);
    if (request != kDriverPassthrough || bytes == nullptr)
        return;
    auto le32 = [bytes](size_t off) {
        return static_cast<uint32_t>(bytes[off] | (bytes[off + 1] << 8) | (bytes[off + 2] << 16) |
                                     (static_cast<uint32_t>(bytes[off + 3]) << 24));
    };
    const uint32_t words = le32(kPassthroughWordsOffset);
    if (words > 0 && words <= kMaxFrameWords)
        stats_.countFrame(le32(0), bytes + kPassthroughFrameOffset, words * 4u);
}

void Runtime::writeStats() {
    std::lock_guard<std::mutex> lock(mutex_);
    services_.logLine("requests " + std::to_string(stats_.total()) + " " + stats_.toJson().dump());
    if (statsPath_.empty())
        return;
    std::string error;
    if (!mergeStatsFile(statsPath_, stats_.toJson(), &error))
        complain("--stats: " + error);
}

int Runtime::ioctl(int fd, unsigned long request, void* argument) {
    std::lock_guard<std::mutex> lock(mutex_);
    const OpenNode* node = lookup(fd);
    if (node == nullptr || node->kind == OpenNode::Kind::Directory)
        return kPassThrough;
    if (node->kind == OpenNode::Kind::File)
        return -ENOTTY;
    countRequest(*node, request, argument);
    if (node->kind == OpenNode::Kind::Disk) {
        if (request == kScsiIoctlGetIdLun) {
            if (argument == nullptr)
                return -EFAULT;
            const SgNode& d = *node->sg;
            const uint32_t id = (static_cast<uint32_t>(d.scsiId()) & 0xFF) |
                                ((static_cast<uint32_t>(d.lun()) & 0xFF) << 8) |
                                ((static_cast<uint32_t>(d.channel()) & 0xFF) << 16) |
                                ((static_cast<uint32_t>(d.hostNumber()) & 0xFF) << 24);
            const uint32_t words[2] = {id, static_cast<uint32_t>(d.hostNumber()) + 1};
            std::memcpy(argument, words, sizeof words);
            services_.logLine(node->path + " GET_IDLUN");
            return 0;
        }
        return sgIoctl(*node->sg, -1, request, argument, services_);
    }
    if (node->kind == OpenNode::Kind::Sg) {
        return sgIoctl(*node->sg, node->sgNumber, request, argument, services_);
    }
    int result = 0;
    try {
        result = node->control->ioctl(request, argument);
    } catch (const std::exception& e) {
        services_.logLine(node->path + " model failure: " + e.what());
        result = -EIO;
    }
    char line[96];
    std::snprintf(line, sizeof line, " ioctl 0x%lx -> %d", request, result);
    services_.logLine(node->path + line);
    return result;
}

void Runtime::close(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fds_.count(fd) != 0)
        forget(fd);
}

bool Runtime::isDirFd(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    const OpenNode* node = lookup(fd);
    return node != nullptr && node->kind == OpenNode::Kind::Directory;
}

DIR* Runtime::opendir() {
    std::lock_guard<std::mutex> lock(mutex_);
    DIR* dir = QEMU_REAL(opendir)(placeholder_.c_str());
    if (dir == nullptr)
        return nullptr;
    Listing& listing = dirs_[dir];
    listing = Listing{};
    listing.names = listingNames();
    listing.fd = dirfd(dir);
    g_emulatedDirs.fetch_add(1, std::memory_order_relaxed);
    return dir;
}

void Runtime::adoptDir(DIR* dir, int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dirs_.count(dir) == 0)
        g_emulatedDirs.fetch_add(1, std::memory_order_relaxed);
    Listing& listing = dirs_[dir];
    listing = Listing{};
    listing.names = listingNames();
    listing.fd = fd;
}

template <typename Entry>
Entry* Runtime::readdir(DIR* dir, bool* handled) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = dirs_.find(dir);
    *handled = it != dirs_.end();
    if (!*handled)
        return nullptr;
    Listing& listing = it->second;
    if (listing.next >= listing.names.size())
        return nullptr;
    const size_t index = listing.next++;
    const std::string& name = listing.names[index];
    Entry* entry;
    if constexpr (std::is_same_v<Entry, dirent>) {
        entry = &listing.entry;
    } else {
        entry = &listing.entry64;
    }
    std::memset(entry, 0, sizeof *entry);
    entry->d_ino = 0x53000000 + index;
    entry->d_off = static_cast<decltype(entry->d_off)>(index + 1);
    entry->d_reclen = sizeof *entry;
    // sysfs class entries are symbolic links to the device directories.
    entry->d_type = index < 2 ? DT_DIR : DT_LNK;
    std::snprintf(entry->d_name, sizeof entry->d_name, "%s", name.c_str());
    return entry;
}

void Runtime::rewinddir(DIR* dir) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = dirs_.find(dir);
    if (it == dirs_.end())
        return;
    it->second.names = listingNames();
    it->second.next = 0;
}

void Runtime::closedir(DIR* dir) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = dirs_.find(dir);
    if (it == dirs_.end())
        return;
    // closedir releases the descriptor without calling close().
    if (fds_.count(it->second.fd) != 0)
        forget(it->second.fd);
    dirs_.erase(it);
    g_emulatedDirs.fetch_sub(1, std::memory_order_relaxed);
}

// Runs one emulated operation with the guard up and exceptions contained.
template <typename Fn>
auto guarded(Fn fn, decltype(fn()) onFailure) {
    Guard guard;
    try {
        return fn();
    } catch (const std::exception& e) {
        complain(std::string("internal error: ") + e.what());
    } catch (...) {
        complain("internal error");
    }
    return onFailure;
}

}  // namespace

VirtualClock& deviceClock() {
    realTimeMode();
    return g_clock;
}

bool realTimeMode() {
    int state = g_realTime.load(std::memory_order_relaxed);
    if (state < 0) {
        const char* value = std::getenv(kEnvRealTime);
        state = (value != nullptr && std::strcmp(value, "1") == 0) ? 1 : 0;
        g_clock.setRealTime(state == 1);
        g_realTime.store(state, std::memory_order_relaxed);
    }
    return state == 1;
}

bool anyEmulatedFd() {
    return g_emulatedFds.load(std::memory_order_relaxed) > 0;
}
bool anyEmulatedDir() {
    return g_emulatedDirs.load(std::memory_order_relaxed) > 0;
}

bool mayBeEmulatedPath(const char* path) {
    if (path == nullptr || path[0] != '/')
        return false;
    while (*path == '/')
        ++path;
    return std::strncmp(path, "dev/", 4) == 0 || std::strncmp(path, "sys/", 4) == 0 ||
           std::strncmp(path, "proc/scsi/", 10) == 0;
}

int emuOpen(const char* path, int flags) {
    return guarded(
        [&] {
            std::string normal;
            if (!normalise(path, &normal))
                return kPassThrough;
            realTimeMode();
            return Runtime::instance().open(normal, flags);
        },
        -EIO);
}

int emuStat(const char* path, struct stat* st, bool noFollow) {
    return guarded(
        [&] {
            std::string normal;
            if (!normalise(path, &normal))
                return kPassThrough;
            if (normal != kSgClassDir && normal != kProcScsi && normal.compare(0, 5, "/dev/") != 0)
                return kPassThrough;
            return Runtime::instance().stat(normal, st, noFollow);
        },
        -EIO);
}

int emuFstat(int fd, struct stat* st) {
    return guarded([&] { return Runtime::instance().fstat(fd, st); }, kPassThrough);
}

int emuIoctl(int fd, unsigned long request, void* argument) {
    return guarded([&] { return Runtime::instance().ioctl(fd, request, argument); }, -EIO);
}

void emuClose(int fd) {
    guarded(
        [&] {
            Runtime::instance().close(fd);
            return 0;
        },
        0);
}

DIR* emuOpendir(const char* path, int* result) {
    *result = kPassThrough;
    return guarded(
        [&]() -> DIR* {
            std::string normal;
            if (!normalise(path, &normal) || normal != kSgClassDir)
                return nullptr;
            *result = 0;
            DIR* dir = Runtime::instance().opendir();
            if (dir == nullptr)
                *result = -errno;
            return dir;
        },
        nullptr);
}

bool emuIsDirFd(int fd) {
    return guarded([&] { return Runtime::instance().isDirFd(fd); }, false);
}

void emuAdoptDir(DIR* dir, int fd) {
    guarded(
        [&] {
            Runtime::instance().adoptDir(dir, fd);
            return 0;
        },
        0);
}

dirent* emuReaddir(DIR* dir, bool* handled) {
    *handled = false;
    return guarded([&] { return Runtime::instance().readdir<dirent>(dir, handled); }, nullptr);
}

dirent64* emuReaddir64(DIR* dir, bool* handled) {
    *handled = false;
    return guarded([&] { return Runtime::instance().readdir<dirent64>(dir, handled); }, nullptr);
}

void emuRewinddir(DIR* dir) {
    guarded(
        [&] {
            Runtime::instance().rewinddir(dir);
            return 0;
        },
        0);
}

void emuClosedir(DIR* dir) {
    guarded(
        [&] {
            Runtime::instance().closedir(dir);
            return 0;
        },
        0);
}

}  // namespace qemu::preload
