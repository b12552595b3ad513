// libc entry points of the directory listing: opendir, and fdopendir on a
// descriptor from openat(O_DIRECTORY) (what std::filesystem uses), then
// readdir/readdir64 served from the topology, and closedir, which releases
// its descriptor without calling close().
#include <dirent.h>

#include "next.h"
#include "runtime.h"

using namespace qemu::preload;

QEMU_EXPORT DIR* opendir(const char* path) {
    if (!Guard::active() && mayBeEmulatedPath(path)) {
        const ErrnoKeeper keeper;
        int result = kPassThrough;
        DIR* dir = emuOpendir(path, &result);
        if (result != kPassThrough) {
            if (dir != nullptr) {
                keeper.restore();
            } else {
                errno = -result;
            }
            return dir;
        }
        keeper.restore();
    }
    return QEMU_REAL(opendir)(path);
}

QEMU_EXPORT DIR* fdopendir(int fd) {
    if (!Guard::active() && anyEmulatedFd()) {
        const ErrnoKeeper keeper;
        const bool emulated = emuIsDirFd(fd);
        keeper.restore();
        if (emulated) {
            DIR* dir = QEMU_REAL(fdopendir)(fd);
            if (dir != nullptr) {
                const ErrnoKeeper again;
                emuAdoptDir(dir, fd);
                again.restore();
            }
            return dir;
        }
    }
    return QEMU_REAL(fdopendir)(fd);
}

QEMU_EXPORT struct dirent* readdir(DIR* dir) {
    if (!Guard::active() && anyEmulatedDir()) {
        const ErrnoKeeper keeper;
        bool handled = false;
        dirent* entry = emuReaddir(dir, &handled);
        keeper.restore();
        if (handled)
            return entry;
    }
    return QEMU_REAL(readdir)(dir);
}

QEMU_EXPORT struct dirent64* readdir64(DIR* dir) {
    if (!Guard::active() && anyEmulatedDir()) {
        const ErrnoKeeper keeper;
        bool handled = false;
        dirent64* entry = emuReaddir64(dir, &handled);
        keeper.restore();
        if (handled)
            return entry;
    }
    return QEMU_REAL(readdir64)(dir);
}

QEMU_EXPORT void rewinddir(DIR* dir) noexcept {
    if (!Guard::active() && anyEmulatedDir()) {
        const ErrnoKeeper keeper;
        emuRewinddir(dir);
        keeper.restore();
    }
    QEMU_REAL(rewinddir)(dir);
}

QEMU_EXPORT int closedir(DIR* dir) {
    if (!Guard::active() && anyEmulatedDir()) {
        const ErrnoKeeper keeper;
        emuClosedir(dir);
        keeper.restore();
    }
    return QEMU_REAL(closedir)(dir);
}
