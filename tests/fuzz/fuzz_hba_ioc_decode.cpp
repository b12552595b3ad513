// IOC and Port Facts replies and SAS/PCIe IO Unit pages come from the controller.
#include <cstddef>
#include <cstdint>

#include "hba/ioc_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IocFactsFields facts;
    decodeIocFacts(data, size, &facts);
    PortFactsFields port;
    decodePortFacts(data, size, &port);
    for (uint32_t phy = 0, n = discoveryPhyCount(data, size); phy < n; ++phy) {
        DiscoveryEntry entry;
        if (!discoveryEntry(data, size, phy, &entry))
            __builtin_trap();
    }
    for (uint32_t link = 0, n = pcieLinkCount(data, size); link < n; ++link) {
        PcieLinkEntry entry;
        if (!pcieLinkEntry(data, size, link, &entry))
            __builtin_trap();
        pcieRateText(entry.maxRate);
        pcieEndpointText(entry.flags);
    }
    for (uint32_t link = 0, n = pcieUnit0EntryCount(data, size); link < n; ++link) {
        uint16_t handle;
        if (!pcieAttachedHandle(data, size, link, &handle))
            __builtin_trap();
    }
    mfg5PhyCount(data, size);
    return 0;
}
