// The boot image version decoder reads a controller-supplied expansion ROM.
#include <cstddef>
#include <cstdint>

#include "xollib/xollib2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t version = 0;
    XolLib2BiosVersionFromImage(data, size, &version);
    return 0;
}
