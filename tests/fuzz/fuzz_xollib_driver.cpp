// The whole controller library over a scripted driver: every open, adapter
// information request and passthrough is answered from the fuzz input
// (driver result, reply frame, data-in bytes). Runs discovery, adapter
// information (with the boot image read for the BIOS version), IOC Facts,
// page reads and walks, region sizes and whole-region reads.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_input.h"
#include "shell/bytes.h"
#include "xollib/xol_internal.h"

namespace {

FuzzInput* g_input = nullptr;

int scriptedOpen(const char*, int) {
    return g_input->empty() || (g_input->byte() & 0x07) == 0 ? -1 : 7;
}
int scriptedClose(int) {
    return 0;
}

uint8_t* pointerAt(const uint8_t* block, size_t offset) {
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(getLe64(block, offset)));
}

int scriptedIoctl(int, unsigned long request, void* argument) {
    FuzzInput& in = *g_input;
    if (in.empty())
        return -1;
    auto* arg = static_cast<uint8_t*>(argument);
    const uint8_t control = in.byte();
    if ((control & 0x03) == 0)
        return -1;  // the driver refuses
    if (request == kXolIoctlAdapterInfo) {
        in.copy(arg + kIoctlHeaderSize, kIocInfoSize - kIoctlHeaderSize);
        return 0;
    }
    if (request != kXolIoctlPassthrough)
        return static_cast<int8_t>(in.byte());
    if (uint8_t* reply = pointerAt(arg, kIoctlCmdReplyPtr))
        in.copy(reply, getLe32(arg, kIoctlCmdReplyLength));
    const uint32_t dataInLength = getLe32(arg, kIoctlCmdDataInLength);
    if (uint8_t* dataIn = pointerAt(arg, kIoctlCmdDataInPtr); dataIn != nullptr)
        in.copy(dataIn, (control & 0x04) != 0 ? dataInLength : dataInLength / 2);
    return 0;
}

uint32_t visitPage(void* context, const uint8_t* page, uint32_t size) {
    auto* total = static_cast<uint32_t*>(context);
    for (uint32_t i = 0; i < size; ++i)
        *total += page[i];
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const XolDriverOps kOps = {scriptedOpen, scriptedIoctl, scriptedClose};
    FuzzInput input(data, size);
    g_input = &input;
    xolSetDriverOps(&kOps);

    XolLib2Create();
    uint32_t count = 0;
    XolLib2DiscoverAdapters(&count, kXolShellDiscoveryOptions);
    for (uint32_t index = 0; index < count && index < 4; ++index) {
        uint8_t info[kXolAdapterInfoSize] = {};
        uint32_t infoSize = sizeof info;
        if (XolLib2GetAdapterInfo(index, nullptr, info, &infoSize) != kXolStatusSuccess)
            continue;
        const uint32_t handle = getLe32(info, kAdapterInfoHandle);
        uint8_t facts[kXolIocFactsReplySize] = {};
        uint32_t factsLength = sizeof facts;
        XolStatusInfo status = {};
        XolLib2GetIocFacts(&handle, facts, &factsLength, &status);
        if (factsLength > sizeof facts)
            __builtin_trap();

        uint8_t page[64] = {};
        uint32_t pageSize = sizeof page;
        XolLib2ReadManufacturingPage5(&handle, page, &pageSize, kPageSelectorCurrent);
        pageSize = sizeof page;
        XolLib2ReadIoUnitPage7(&handle, page, &pageSize, kPageSelectorCurrent);
        uint32_t total = 0;
        XolLib2WalkPages(&handle, kPageTypeExtended, kExtPageTypeSasDevice, 64, 6, visitPage,
                         &total);

        uint32_t regionSize = 0;
        XolLib2GetRegionSize(&handle, 0, &regionSize);
        for (const uint8_t type : {kImageTypeBoot, uint8_t{0}, uint8_t{10}}) {
            ByteBuffer image;
            if (XolLib2ReadRegion(&handle, type, &image) == kXolStatusSuccess &&
                image.size() > kXolMaxRegionSize) {
                __builtin_trap();
            }
        }
    }
    xolSetDriverOps(nullptr);
    g_input = nullptr;
    return 0;
}
