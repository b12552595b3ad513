// Manufacturing image files: the page-record walk must end and never read
// past the file, whatever the header and page lengths claim.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "expander/expander_images.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy so that the sanitizer sees any read past the end.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size == 0 ? 1 : size]);
    if (size > 0)
        std::memcpy(copy.get(), data, size);
    checkManufacturingImage(copy.get(), size);
    return 0;
}
