// A preload library that stands for the caller's own LD_PRELOAD (a request
// recorder, libasan): it sees sleep() first, says so, and passes it on.
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>

extern "C" __attribute__((visibility("default"))) unsigned int sleep(unsigned int seconds) {
    static const char kNote[] = "marker saw sleep\n";
    if (write(STDERR_FILENO, kNote, sizeof kNote - 1) < 0) {
        // Best effort only.
    }
    using Sleep = unsigned int (*)(unsigned int);
    auto next = reinterpret_cast<Sleep>(dlsym(RTLD_NEXT, "sleep"));
    return next != nullptr ? next(seconds) : 0;
}
