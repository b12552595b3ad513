// The diagnostic buffer and event answers of a scripted driver: discovery
// from the fuzz input, then buffer queries (flags to lines), chunked reads
// and event queries and reports, where the driver writes as many bytes as
// each header announces and chooses any entry count. Also the record clamp.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "hba/db_args.h"
#include "shell/bytes.h"
#include "xollib/event_answer.h"
#include "xollib/xol_internal.h"

namespace {

FuzzInput* g_input = nullptr;

int scriptedOpen(const char*, int) {
    return g_input->empty() || (g_input->byte() & 0x07) == 0 ? -1 : 7;
}
int scriptedClose(int) {
    return 0;
}

int scriptedIoctl(int, unsigned long request, void* argument) {
    FuzzInput& in = *g_input;
    if (in.empty())
        return -1;
    auto* arg = static_cast<uint8_t*>(argument);
    if ((in.byte() & 0x03) == 0)
        return -1;
    if (request == kXolIoctlAdapterInfo) {
        in.copy(arg + kIoctlHeaderSize, kIocInfoSize - kIoctlHeaderSize);
        return 0;
    }
    if (request == kXolIoctlPassthrough)
        return -1;
    // A driver honouring the header writes everything it announces.
    const uint32_t announced = getLe32(arg, kIoctlHeaderMaxDataSize);
    if (announced > kIoctlHeaderSize)
        in.copy(arg + kIoctlHeaderSize, announced - kIoctlHeaderSize);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const XolDriverOps kOps = {scriptedOpen, scriptedIoctl, scriptedClose};
    FuzzInput input(data, size);
    g_input = &input;
    xolSetDriverOps(&kOps);

    const uint32_t wanted = input.word();
    const uint32_t entries = input.word() & 0xFFFF;
    const size_t received = input.word();
    if (eventRecordsToCopy(wanted, entries, received) > wanted ||
        eventRecordsToCopy(wanted, entries, received) > entries) {
        __builtin_trap();
    }

    XolLib2Create();
    uint32_t count = 0;
    XolLib2DiscoverAdapters(&count, kXolShellDiscoveryOptions);
    for (uint32_t index = 0; index < count && index < 2; ++index) {
        const uint32_t handle = kXolAdapterHandleKind | (index + 1);
        uint16_t flags = 0;
        uint32_t total = 0;
        if (XolLib2DiagQuery(&handle, 0, &flags, &total) == kXolStatusSuccess) {
            const DbQueryLines lines = dbQueryLines(flags);
            if (lines.info.size() > 2)
                __builtin_trap();
        }
        std::vector<uint8_t> contents(70000);
        XolLib2DiagRead(&handle, 1, static_cast<uint32_t>(contents.size()), contents.data());
        XolLib2DiagRegister(&handle, 0, 0, 0x20040, 0, nullptr);
        uint32_t mask[kXolEventMaskWords] = {};
        XolLib2EventEnable(&handle, mask, mask);
        constexpr uint32_t kRoom = 8;
        std::vector<uint8_t> records(kRoom * kXolEventRecordSize);
        uint32_t recordCount = input.byte() % (kRoom + 1);
        if (XolLib2EventRead(&handle, records.data(), &recordCount) == kXolStatusSuccess &&
            recordCount > kRoom) {
            __builtin_trap();
        }
    }
    XolLib2Shutdown();
    xolSetDriverOps(nullptr);
    return 0;
}
