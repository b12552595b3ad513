// Firmware image files and region headers: the dl checks, the header's image
// length and the post-validation comparison must stay inside what they get.
#include <cstddef>
#include <cstdint>

#include "expander/expander_images.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FirmwareImageCheck check = checkFirmwareImage(data, size);
    if (check.imageLength > size || check.imageLength % 4 != 0)
        __builtin_trap();
    uint32_t held = 0;
    regionHeaderImageLength(data, size, &held);
    // Compare the two halves as image and read-back.
    const size_t half = size / 2;
    const size_t at = firstImageDifference(data, data + half, half);
    if (at > half)
        __builtin_trap();
    return 0;
}
