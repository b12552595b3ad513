// The interposer's state: which paths and descriptors are emulated, created on
// first use of an emulated path (wrappers run before constructors). Every
// operation returns kPassThrough when the object is not emulated, so the
// wrapper calls libc with the caller's arguments untouched; otherwise the
// result (>= 0) or -errno.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <climits>

#include "services.h"

namespace qemu::preload {

inline constexpr int kPassThrough = INT_MIN;

// The process's device clock (virtual unless real-time).
VirtualClock& deviceClock();
// True under --real-time (read from the environment once).
bool realTimeMode();

// Cheap checks that never create the runtime.
bool anyEmulatedFd();
bool anyEmulatedDir();
// Only absolute /dev/... and /sys/class/scsi_generic paths can be emulated.
bool mayBeEmulatedPath(const char* path);

int emuOpen(const char* path, int flags);
// stat, or lstat with noFollow: only /proc/scsi/scsi can be a symbolic link.
int emuStat(const char* path, struct stat* st, bool noFollow = false);
int emuFstat(int fd, struct stat* st);
int emuIoctl(int fd, unsigned long request, void* argument);
// Forgets fd before the real close.
void emuClose(int fd);

// Directory listing of /sys/class/scsi_generic. emuOpendir returns nullptr
// with *result = kPassThrough for other paths.
DIR* emuOpendir(const char* path, int* result);
// Registers a DIR* made by fdopendir on an emulated directory descriptor.
bool emuIsDirFd(int fd);
void emuAdoptDir(DIR* dir, int fd);
// readdir/readdir64: *handled false when dir is not emulated.
dirent* emuReaddir(DIR* dir, bool* handled);
dirent64* emuReaddir64(DIR* dir, bool* handled);
void emuRewinddir(DIR* dir);
void emuClosedir(DIR* dir);

}  // namespace qemu::preload
