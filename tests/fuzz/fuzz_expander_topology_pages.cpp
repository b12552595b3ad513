// Controller pages behind expander scan and encl: SAS Expander page 0 (the
// parent search) and SAS Enclosure page 0, of any size.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "expander/parent_hba.h"
#include "shell/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly as long as the input, so that a read past the page is caught.
    const std::vector<uint8_t> page(data, data + size);
    const uint32_t length = static_cast<uint32_t>(page.size());
    const uint64_t address = size >= 8 ? getLe64(data, 0) : 0x53C2A1F000001000u;
    expanderPageNames(page.data(), length, address);
    EnclosureInfo info;
    decodeEnclosurePage(page.data(), length, &info);
    return 0;
}
