// SAS IO Unit page 1 and SAS Phy page 2 bytes come from the controller: the
// first byte splits the input into two event pages of any length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "hba/phy_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint32_t entries = ioUnit1EntryCount(size);
    for (uint32_t phy = 0; phy <= entries + 1 && phy < 80; ++phy) {
        uint32_t word = 0;
        uint32_t info = 0;
        if (ioUnit1Entry(data, size, phy, &word) != (phy < entries))
            std::abort();
        ioUnit1DeviceInfo(data, size, phy, &info);
        maxLinkRateName(static_cast<uint8_t>(word >> 24));
        minLinkRateName(static_cast<uint8_t>(word >> 24));
    }
    if (size > 18)
        reportMissingDelaySeconds(data[18]);
    const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    static PhyEventList a;
    static PhyEventList b;
    decodePhyEvents(data, cut, &a);
    decodePhyEvents(data + cut, size - cut, &b);
    if (a.count > kMaxPhyEvents || (cut <= 16 && a.count != 0))
        std::abort();
    for (uint32_t i = 0; i < a.count; ++i)
        phyEventName(a.events[i].code);
    sameEventConfiguration(a, b);
    return 0;
}
