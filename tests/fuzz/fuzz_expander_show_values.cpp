// Device bytes behind expander show: the VPD page 0x85 reply, the
// temperature sample and the manufacturing time stamp.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "expander/show_values.h"
#include "shell/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t reply[256] = {};
    std::memcpy(reply, data, size < sizeof reply ? size : sizeof reply);
    char text[16];
    managementAddressText(reply, text, sizeof text);
    char tiny[1];
    managementAddressText(reply, tiny, sizeof tiny);
    if (size >= 4) {
        char temperature[64];
        formatTemperature(getLe32(data, 0) % 1024, temperature, sizeof temperature);
        formatTemperature(getLe32(data, 0), temperature, sizeof temperature);
        decodeTimeStamp(getLe32(data, 0));
    }
    return 0;
}
