// The boot region is controller-supplied: every code type the lookup takes.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "hba/rom_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const uint8_t type :
         {kRomCodeX86, kRomCodeOpenFirmware, kRomCodeEfi, kRomCodeFirstImage, kRomCodeX86Alias}) {
        romImageVersion(data, size, type);
    }
    openFirmwareVersion(data, size);
    return 0;
}
