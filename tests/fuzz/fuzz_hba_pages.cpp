// Firmware header and Manufacturing page 0 bytes come from the controller.
#include <cstddef>
#include <cstdint>

#include "hba/show_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FirmwareHeaderFields header;
    decodeFirmwareHeader(data, size, &header);
    MfgPage0Fields mfg;
    decodeMfgPage0(data, size, &mfg);
    uint32_t offset = 0;
    firmwareHeaderIsPrefixed(data, size, &offset);
    isPrefixedFormHeader(data, size);
    return 0;
}
