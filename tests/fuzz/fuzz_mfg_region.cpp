// The SAS address patch over a manufacturing region of any content.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "checking_sink.h"
#include "expander/mfg_region.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> region(data, data + size);
    CheckingSink sink;
    patchSasAddress(region.data(), region.size(), 0x53C2A1F00000107Full, sink);
    return 0;
}
