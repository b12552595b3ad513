// libc entry points for files and descriptors: the open family (plain, 64-bit,
// fortified, *at), fopen, close, ioctl and the whole stat family of glibc 2.36
// (including the old __xstat names). Each passes anything not emulated to the
// next definition with the caller's arguments.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "next.h"
#include "runtime.h"

using namespace qemu::preload;

QEMU_EXPORT int __open_2(const char* path, int flags);
QEMU_EXPORT int __open64_2(const char* path, int flags);
QEMU_EXPORT int __openat_2(int dirfd, const char* path, int flags);
QEMU_EXPORT int __openat64_2(int dirfd, const char* path, int flags);
QEMU_EXPORT int __xstat(int version, const char* path, struct stat* st);
QEMU_EXPORT int __xstat64(int version, const char* path, struct stat64* st);
QEMU_EXPORT int __lxstat(int version, const char* path, struct stat* st);
QEMU_EXPORT int __lxstat64(int version, const char* path, struct stat64* st);
QEMU_EXPORT int __fxstat(int version, int fd, struct stat* st);
QEMU_EXPORT int __fxstat64(int version, int fd, struct stat64* st);
QEMU_EXPORT int __fxstatat(int version, int dirfd, const char* path, struct stat* st, int flags);
QEMU_EXPORT int __fxstatat64(int version, int dirfd, const char* path, struct stat64* st,
                             int flags);

namespace {

// Null checks of parameters that libc declares non-null (the wrappers must
// still not crash on them), kept out of line so compilers do not fold them.
__attribute__((noinline)) bool isNull(const void* pointer) {
    return pointer == nullptr;
}

bool needsMode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

// Emulated open of path, or kPassThrough.
int tryOpen(const char* path, int flags) {
    if (Guard::active() || !mayBeEmulatedPath(path))
        return kPassThrough;
    const ErrnoKeeper keeper;
    const int result = emuOpen(path, flags);
    if (result == kPassThrough) {
        keeper.restore();
        return kPassThrough;
    }
    return finish(keeper, result);
}

template <typename Stat>
void copyStat(const struct stat& from, Stat* to) {
    std::memset(to, 0, sizeof *to);
    to->st_dev = from.st_dev;
    to->st_ino = from.st_ino;
    to->st_nlink = from.st_nlink;
    to->st_mode = from.st_mode;
    to->st_uid = from.st_uid;
    to->st_gid = from.st_gid;
    to->st_rdev = from.st_rdev;
    to->st_size = from.st_size;
    to->st_blksize = from.st_blksize;
    to->st_blocks = from.st_blocks;
    to->st_atim = from.st_atim;
    to->st_mtim = from.st_mtim;
    to->st_ctim = from.st_ctim;
}

// Emulated stat of a path (dirfd and flags as fstatat takes them), or
// kPassThrough. An empty path with AT_EMPTY_PATH means the descriptor itself.
template <typename Stat>
int tryStatAt(int dirfd, const char* path, int flags, Stat* st) {
    if (Guard::active() || st == nullptr || path == nullptr)
        return kPassThrough;
    const bool byFd = path[0] == '\0' && (flags & AT_EMPTY_PATH) != 0;
    if (byFd ? !anyEmulatedFd() : !mayBeEmulatedPath(path))
        return kPassThrough;
    const ErrnoKeeper keeper;
    struct stat result {};
    const int status = byFd ? emuFstat(dirfd, &result)
                            : emuStat(path, &result, (flags & AT_SYMLINK_NOFOLLOW) != 0);
    if (status == kPassThrough) {
        keeper.restore();
        return kPassThrough;
    }
    if (status == 0)
        copyStat(result, st);
    return finish(keeper, status);
}

template <typename Stat>
int tryFstat(int fd, Stat* st) {
    if (Guard::active() || st == nullptr || !anyEmulatedFd())
        return kPassThrough;
    const ErrnoKeeper keeper;
    struct stat result {};
    const int status = emuFstat(fd, &result);
    if (status == kPassThrough) {
        keeper.restore();
        return kPassThrough;
    }
    if (status == 0)
        copyStat(result, st);
    return finish(keeper, status);
}

void toStatx(const struct stat& st, struct statx* sx) {
    std::memset(sx, 0, sizeof *sx);
    sx->stx_mask = STATX_BASIC_STATS;
    sx->stx_blksize = static_cast<__u32>(st.st_blksize);
    sx->stx_nlink = static_cast<__u32>(st.st_nlink);
    sx->stx_uid = st.st_uid;
    sx->stx_gid = st.st_gid;
    sx->stx_mode = static_cast<__u16>(st.st_mode);
    sx->stx_ino = st.st_ino;
    sx->stx_size = static_cast<__u64>(st.st_size);
    sx->stx_blocks = static_cast<__u64>(st.st_blocks);
    sx->stx_atime = {st.st_atim.tv_sec, static_cast<__u32>(st.st_atim.tv_nsec), 0};
    sx->stx_mtime = {st.st_mtim.tv_sec, static_cast<__u32>(st.st_mtim.tv_nsec), 0};
    sx->stx_ctime = {st.st_ctim.tv_sec, static_cast<__u32>(st.st_ctim.tv_nsec), 0};
    sx->stx_rdev_major = major(st.st_rdev);
    sx->stx_rdev_minor = minor(st.st_rdev);
    sx->stx_dev_major = major(st.st_dev);
    sx->stx_dev_minor = minor(st.st_dev);
}

}  // namespace

#define QEMU_OPEN_MODE(flags, mode)                    \
    mode_t mode = 0;                                   \
    if (needsMode(flags)) {                            \
        va_list args;                                  \
        va_start(args, flags);                         \
        mode = static_cast<mode_t>(va_arg(args, int)); \
        va_end(args);                                  \
    }

QEMU_EXPORT int open(const char* path, int flags, ...) {
    QEMU_OPEN_MODE(flags, mode);
    const int result = tryOpen(path, flags);
    return result != kPassThrough ? result : QEMU_REAL(open)(path, flags, mode);
}

QEMU_EXPORT int open64(const char* path, int flags, ...) {
    QEMU_OPEN_MODE(flags, mode);
    const int result = tryOpen(path, flags);
    return result != kPassThrough ? result : QEMU_REAL(open64)(path, flags, mode);
}

QEMU_EXPORT int openat(int dirfd, const char* path, int flags, ...) {
    QEMU_OPEN_MODE(flags, mode);
    const int result = tryOpen(path, flags);
    return result != kPassThrough ? result : QEMU_REAL(openat)(dirfd, path, flags, mode);
}

QEMU_EXPORT int openat64(int dirfd, const char* path, int flags, ...) {
    QEMU_OPEN_MODE(flags, mode);
    const int result = tryOpen(path, flags);
    return result != kPassThrough ? result : QEMU_REAL(openat64)(dirfd, path, flags, mode);
}

QEMU_EXPORT int __open_2(const char* path, int flags) {
    const int result = tryOpen(path, flags);
    return result != kPassThrough ? result : QEMU_REAL(__open_2)(path, flags);
}

QEMU_EXPORT int __open64_2(const char* path, int flags) {
    const int result = tryOpen(path, flags);
    return result != kPassThrough ? result : QEMU_REAL(__open64_2)(path, flags);
}

QEMU_EXPORT int __openat_2(int dirfd, const char* path, int flags) {
    const int result = tryOpen(path, flags);
    return result != kPassThrough ? result : QEMU_REAL(__openat_2)(dirfd, path, flags);
}

QEMU_EXPORT int __openat64_2(int dirfd, const char* path, int flags) {
    const int result = tryOpen(path, flags);
    return result != kPassThrough ? result : QEMU_REAL(__openat64_2)(dirfd, path, flags);
}

namespace {

// The open flags of an fopen mode ("r", "w+", "ae", ...).
int fopenFlags(const char* mode) {
    int flags = O_RDONLY;
    if (mode[0] == 'w')
        flags = O_WRONLY | O_CREAT | O_TRUNC;
    else if (mode[0] == 'a')
        flags = O_WRONLY | O_CREAT | O_APPEND;
    for (const char* c = mode + 1; *c != '\0' && *c != ','; ++c) {
        if (*c == '+')
            flags = (flags & ~O_ACCMODE) | O_RDWR;
        else if (*c == 'e')
            flags |= O_CLOEXEC;
        else if (*c == 'x')
            flags |= O_EXCL;
    }
    return flags;
}

// fopen opens through libc's internal open, which no wrapper sees: an
// emulated path is opened here and its descriptor handed to fdopen.
FILE* tryFopen(const char* path, const char* mode, bool* handled) {
    *handled = false;
    if (isNull(path) || isNull(mode))
        return nullptr;
    const int fd = tryOpen(path, fopenFlags(mode));
    if (fd == kPassThrough)
        return nullptr;
    *handled = true;
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, mode);
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

}  // namespace

QEMU_EXPORT FILE* fopen(const char* path, const char* mode) {
    bool handled = false;
    FILE* file = tryFopen(path, mode, &handled);
    return handled ? file : QEMU_REAL(fopen)(path, mode);
}

QEMU_EXPORT FILE* fopen64(const char* path, const char* mode) {
    bool handled = false;
    FILE* file = tryFopen(path, mode, &handled);
    return handled ? file : QEMU_REAL(fopen64)(path, mode);
}

QEMU_EXPORT int close(int fd) {
    if (!Guard::active() && anyEmulatedFd()) {
        const ErrnoKeeper keeper;
        emuClose(fd);
        keeper.restore();
    }
    return QEMU_REAL(close)(fd);
}

QEMU_EXPORT int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (!Guard::active() && anyEmulatedFd()) {
        const ErrnoKeeper keeper;
        const int result = emuIoctl(fd, request, argument);
        if (result != kPassThrough)
            return finish(keeper, result);
        keeper.restore();
    }
    return QEMU_REAL(ioctl)(fd, request, argument);
}

// ---------------------------------------------------------------- stat family

QEMU_EXPORT int stat(const char* path, struct stat* st) noexcept {
    const int result = tryStatAt(AT_FDCWD, path, 0, st);
    return result != kPassThrough ? result : QEMU_REAL(stat)(path, st);
}

QEMU_EXPORT int stat64(const char* path, struct stat64* st) noexcept {
    const int result = tryStatAt(AT_FDCWD, path, 0, st);
    return result != kPassThrough ? result : QEMU_REAL(stat64)(path, st);
}

QEMU_EXPORT int lstat(const char* path, struct stat* st) noexcept {
    const int result = tryStatAt(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, st);
    return result != kPassThrough ? result : QEMU_REAL(lstat)(path, st);
}

QEMU_EXPORT int lstat64(const char* path, struct stat64* st) noexcept {
    const int result = tryStatAt(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, st);
    return result != kPassThrough ? result : QEMU_REAL(lstat64)(path, st);
}

QEMU_EXPORT int fstat(int fd, struct stat* st) noexcept {
    const int result = tryFstat(fd, st);
    return result != kPassThrough ? result : QEMU_REAL(fstat)(fd, st);
}

QEMU_EXPORT int fstat64(int fd, struct stat64* st) noexcept {
    const int result = tryFstat(fd, st);
    return result != kPassThrough ? result : QEMU_REAL(fstat64)(fd, st);
}

QEMU_EXPORT int fstatat(int dirfd, const char* path, struct stat* st, int flags) noexcept {
    const int result = tryStatAt(dirfd, path, flags, st);
    return result != kPassThrough ? result : QEMU_REAL(fstatat)(dirfd, path, st, flags);
}

QEMU_EXPORT int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) noexcept {
    const int result = tryStatAt(dirfd, path, flags, st);
    return result != kPassThrough ? result : QEMU_REAL(fstatat64)(dirfd, path, st, flags);
}

QEMU_EXPORT int __xstat(int version, const char* path, struct stat* st) {
    const int result = tryStatAt(AT_FDCWD, path, 0, st);
    return result != kPassThrough ? result : QEMU_REAL(__xstat)(version, path, st);
}

QEMU_EXPORT int __xstat64(int version, const char* path, struct stat64* st) {
    const int result = tryStatAt(AT_FDCWD, path, 0, st);
    return result != kPassThrough ? result : QEMU_REAL(__xstat64)(version, path, st);
}

QEMU_EXPORT int __lxstat(int version, const char* path, struct stat* st) {
    const int result = tryStatAt(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, st);
    return result != kPassThrough ? result : QEMU_REAL(__lxstat)(version, path, st);
}

QEMU_EXPORT int __lxstat64(int version, const char* path, struct stat64* st) {
    const int result = tryStatAt(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, st);
    return result != kPassThrough ? result : QEMU_REAL(__lxstat64)(version, path, st);
}

QEMU_EXPORT int __fxstat(int version, int fd, struct stat* st) {
    const int result = tryFstat(fd, st);
    return result != kPassThrough ? result : QEMU_REAL(__fxstat)(version, fd, st);
}

QEMU_EXPORT int __fxstat64(int version, int fd, struct stat64* st) {
    const int result = tryFstat(fd, st);
    return result != kPassThrough ? result : QEMU_REAL(__fxstat64)(version, fd, st);
}

QEMU_EXPORT int __fxstatat(int version, int dirfd, const char* path, struct stat* st, int flags) {
    const int result = tryStatAt(dirfd, path, flags, st);
    return result != kPassThrough ? result : QEMU_REAL(__fxstatat)(version, dirfd, path, st, flags);
}

QEMU_EXPORT int __fxstatat64(int version, int dirfd, const char* path, struct stat64* st,
                             int flags) {
    const int result = tryStatAt(dirfd, path, flags, st);
    return result != kPassThrough ? result
                                  : QEMU_REAL(__fxstatat64)(version, dirfd, path, st, flags);
}

QEMU_EXPORT int statx(int dirfd, const char* path, int flags, unsigned int mask,
                      struct statx* sx) noexcept {
    if (!isNull(sx)) {
        struct stat st {};
        const int result = tryStatAt(dirfd, path, flags, &st);
        if (result == 0)
            toStatx(st, sx);
        if (result != kPassThrough)
            return result;
    }
    return QEMU_REAL(statx)(dirfd, path, flags, mask, sx);
}
