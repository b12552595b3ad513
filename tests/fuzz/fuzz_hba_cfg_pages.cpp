// Two copies of a configuration page (default, NVRAM) and the dump walks'
// field reads on pages of any length.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "hba/cfg_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t half = size / 2;
    comparePages(data, half, data + half, size - half, nullptr, nullptr);
    for (size_t off : {size_t{8}, size_t{22}, size_t{24}, size_t{32}, size}) {
        uint8_t b;
        uint16_t h;
        uint32_t w;
        pageU8(data, size, off, &b);
        pageU16(data, size, off, &h);
        pageU32(data, size, off, &w);
    }
    mappingEntryUsed(data, size);
    if (size >= 8)
        writeRangeFits(static_cast<uint32_t>(size), data[0] | (data[1] << 8), data[2]);
    return 0;
}
