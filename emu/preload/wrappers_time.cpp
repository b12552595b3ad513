// libc sleeps: in virtual time they move the device clock forward and return
// at once; under --real-time they sleep. clock_gettime is left alone, so
// absolute deadlines (TIMER_ABSTIME) are real deadlines and are honoured.
#include <time.h>
#include <unistd.h>

#include "next.h"
#include "runtime.h"

using namespace qemu::preload;

namespace {

bool validInterval(const timespec* interval) {
    return interval != nullptr && interval->tv_sec >= 0 && interval->tv_nsec >= 0 &&
           interval->tv_nsec < 1000000000L;
}

uint64_t toNs(const timespec& interval) {
    return static_cast<uint64_t>(interval.tv_sec) * 1000000000ull +
           static_cast<uint64_t>(interval.tv_nsec);
}

bool virtualTime() {
    return !Guard::active() && !realTimeMode();
}

}  // namespace

QEMU_EXPORT int nanosleep(const timespec* request, timespec* remaining) {
    if (!virtualTime() || !validInterval(request)) {
        return QEMU_REAL(nanosleep)(request, remaining);
    }
    deviceClock().advance(toNs(*request));
    return 0;
}

QEMU_EXPORT int clock_nanosleep(clockid_t clock, int flags, const timespec* request,
                                timespec* remaining) {
    const bool sleepClock =
        clock == CLOCK_REALTIME || clock == CLOCK_MONOTONIC || clock == CLOCK_BOOTTIME;
    if (!virtualTime() || !sleepClock || (flags & TIMER_ABSTIME) != 0 || !validInterval(request)) {
        return QEMU_REAL(clock_nanosleep)(clock, flags, request, remaining);
    }
    deviceClock().advance(toNs(*request));
    return 0;
}

QEMU_EXPORT int usleep(useconds_t microseconds) {
    if (!virtualTime())
        return QEMU_REAL(usleep)(microseconds);
    deviceClock().advance(static_cast<uint64_t>(microseconds) * 1000ull);
    return 0;
}

QEMU_EXPORT unsigned int sleep(unsigned int seconds) {
    if (!virtualTime())
        return QEMU_REAL(sleep)(seconds);
    deviceClock().advance(static_cast<uint64_t>(seconds) * 1000000000ull);
    return 0;
}
