// Plumbing shared by the wrappers: the next definition of a libc symbol,
// resolved once into a constant-initialised slot (wrappers can run before any
// constructor), and the per-thread guard that sends the emulator's own calls
// straight to libc.
#pragma once

#include <dlfcn.h>

#include <atomic>
#include <cerrno>

#define QEMU_EXPORT extern "C" __attribute__((visibility("default")))

namespace qemu::preload {

template <typename Fn>
Fn nextSymbol(std::atomic<void*>& slot, const char* name) {
    void* symbol = slot.load(std::memory_order_acquire);
    if (symbol == nullptr) {
        symbol = dlsym(RTLD_NEXT, name);
        slot.store(symbol, std::memory_order_release);
    }
    return reinterpret_cast<Fn>(symbol);
}

// While a Guard lives on a thread, every wrapper on that thread passes its
// call to libc untouched: the models' file I/O and the runtime's own set-up
// never re-enter the emulation.
class Guard final {
  public:
    Guard() { ++depth_; }
    ~Guard() { --depth_; }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    static bool active() { return depth_ > 0; }

  private:
    static thread_local int depth_ __attribute__((tls_model("initial-exec")));
};

// Keeps the caller's errno across emulated work that succeeds.
class ErrnoKeeper final {
  public:
    ErrnoKeeper() : saved_(errno) {}
    void restore() const { errno = saved_; }

  private:
    const int saved_;
};

// Converts an emulated result (>= 0, or -errno) to the libc convention.
inline int finish(const ErrnoKeeper& keeper, int result) {
    if (result < 0) {
        errno = -result;
        return -1;
    }
    keeper.restore();
    return result;
}

}  // namespace qemu::preload

// The next definition of libc function `fn`, typed like the declaration in
// scope (declare the old __xstat family yourself, glibc no longer does).
#define QEMU_REAL(fn)                                                   \
    ([]() {                                                             \
        static std::atomic<void*> slot{nullptr};                        \
        return ::qemu::preload::nextSymbol<decltype(&::fn)>(slot, #fn); \
    }())
