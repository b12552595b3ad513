// A firmware format string with four arguments taken from the input's head.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "expander/trace_format.h"
#include "shell/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t argCount = data[0] % 5;
    uint32_t args[4] = {};
    size_t used = 1;
    for (size_t i = 0; i < argCount && used + 4 <= size; ++i, used += 4)
        args[i] = getLe32(data, used);
    std::string out;
    expandTraceFormat(std::string_view(reinterpret_cast<const char*>(data + used), size - used),
                      args, argCount, &out);
    return 0;
}
