// Health log buffers 0xE5 (entries) and 0xEA (text) of any size.
#include <cstddef>
#include <cstdint>

#include "checking_sink.h"
#include "expander/health_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckingSink sink;
    printHealthLogEntries(data, size, sink);
    printHealthLogText(data, size, sink);
    return 0;
}
