// Host diagnostic buffers and the driver's event log: dedicated driver
// requests on the adapter's control node, one open, ioctl and close each.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "shell/byte_buffer.h"
#include "shell/bytes.h"
#include "xollib/event_answer.h"
#include "xollib/xol_internal.h"

namespace {

uint32_t uniqueId(uint8_t bufferType) {
    return kXolDiagUniqueIdBase | bufferType;
}

// Looks the adapter up; a null pointer is a bad handle for buffer requests.
uint32_t diagAdapter(const uint32_t* handle, XolAdapterRecord** adapter) {
    if (handle == nullptr)
        return kXolStatusBadHandle;
    return lookupAdapter(handle, adapter);
}

// One diagnostic request: the envelope (IOC number, port 0, payload + 15)
// around the payload, which is copied back when the driver accepts it.
uint32_t diagExchange(const XolAdapterRecord& adapter, unsigned long request, uint8_t* payload,
                      uint32_t length) {
    const ControlNodeDescriptor node(adapter.nodePath);
    if (!node.isOpen())
        return kXolStatusNodeOpenFailed;
    // The driver honours the announced size, so the envelope really has it.
    ByteBuffer envelope;
    if (!envelope.allocate(size_t{length} + kDiagEnvelopeSlack))
        return kXolStatusNoMemory;
    putLe32(envelope.data(), kIoctlHeaderIocNumber, adapter.iocNumber);
    putLe32(envelope.data(), kIoctlHeaderPortNumber, 0);
    putLe32(envelope.data(), kIoctlHeaderMaxDataSize, length + kDiagEnvelopeSlack);
    std::memcpy(envelope.data() + kIoctlHeaderSize, payload, length);
    if (node.ioctl(request, envelope.data()) < 0)
        return kXolStatusDiagIoctlFailed;
    std::memcpy(payload, envelope.data() + kIoctlHeaderSize, length);
    return kXolStatusSuccess;
}

uint32_t sendUniqueId(const uint32_t* handle, unsigned long request, uint8_t bufferType) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = diagAdapter(handle, &adapter); status != kXolStatusSuccess)
        return status;
    uint8_t payload[kDiagIdPayload] = {};
    putLe32(payload, 0, uniqueId(bufferType));
    return diagExchange(*adapter, request, payload, sizeof payload);
}

// Event requests carry the structure size itself in the header.
uint32_t eventExchange(const XolAdapterRecord& adapter, unsigned long request, uint8_t* block,
                       uint32_t size) {
    putLe32(block, kIoctlHeaderIocNumber, adapter.iocNumber);
    putLe32(block, kIoctlHeaderPortNumber, 0);
    putLe32(block, kIoctlHeaderMaxDataSize, size);
    return issueAdapterIoctl(adapter, request, block);
}

uint32_t queryEvents(const XolAdapterRecord& adapter, uint32_t* mask, uint16_t* entries) {
    uint8_t block[kEventQuerySize] = {};
    const uint32_t status = eventExchange(adapter, kXolIoctlEventQuery, block, sizeof block);
    if (status != kXolStatusSuccess)
        return status;
    if (entries != nullptr)
        *entries = getLe16(block, kEventQueryEntries);
    if (mask != nullptr) {
        for (uint32_t i = 0; i < kXolEventMaskWords; ++i)
            mask[i] = getLe32(block, kEventQueryMask + 4 * i);
    }
    return kXolStatusSuccess;
}

uint32_t enableEvents(const XolAdapterRecord& adapter, const uint32_t* mask) {
    uint8_t block[kEventEnableSize] = {};
    for (uint32_t i = 0; i < kXolEventMaskWords; ++i)
        putLe32(block, kEventEnableMask + 4 * i, mask[i]);
    return eventExchange(adapter, kXolIoctlEventEnable, block, sizeof block);
}

void ignoreSignal(int) {}

}  // namespace

uint32_t eventRecordsToCopy(uint32_t wanted, uint32_t entries, size_t received) {
    uint32_t count = wanted < entries ? wanted : entries;
    const size_t held =
        received > kEventReportRecords ? (received - kEventReportRecords) / kXolEventRecordSize : 0;
    if (count > held)
        count = static_cast<uint32_t>(held);
    return count;
}

uint32_t XolLib2DiagRegister(const uint32_t* handle, uint8_t bufferType, uint8_t callerByte,
                             uint32_t size, uint32_t flags, const uint32_t* words) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = diagAdapter(handle, &adapter); status != kXolStatusSuccess)
        return status;
    if (size <= kXolDiagMinimumSize || size % 4 != 0)
        return kXolStatusDiagArgument;
    uint8_t payload[kDiagRegisterPayload] = {};
    payload[kDiagRegisterCallerByte] = callerByte;
    payload[kDiagRegisterType] = bufferType;
    putLe32(payload, kDiagRegisterFlags, flags);
    for (uint32_t i = 0; words != nullptr && i < kXolDiagProductWords; ++i)
        putLe32(payload, kDiagRegisterProductWords + 4 * i, words[i]);
    putLe32(payload, kDiagRegisterSize, size);
    putLe32(payload, kDiagRegisterUniqueId, uniqueId(bufferType));
    return diagExchange(*adapter, kXolIoctlDiagRegister, payload, sizeof payload);
}

uint32_t XolLib2DiagQuery(const uint32_t* handle, uint8_t bufferType, uint16_t* appFlags,
                          uint32_t* totalSize) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = diagAdapter(handle, &adapter); status != kXolStatusSuccess)
        return status;
    uint8_t payload[kDiagQueryPayload] = {};
    payload[kDiagQueryType] = bufferType;
    putLe32(payload, kDiagQueryUniqueId, uniqueId(bufferType));
    const uint32_t status = diagExchange(*adapter, kXolIoctlDiagQuery, payload, sizeof payload);
    if (status != kXolStatusSuccess)
        return status;
    if (appFlags != nullptr)
        *appFlags = getLe16(payload, kDiagQueryAppFlags);
    if (totalSize != nullptr)
        *totalSize = getLe32(payload, kDiagQueryTotalSize);
    return kXolStatusSuccess;
}

uint32_t XolLib2DiagRead(const uint32_t* handle, uint8_t bufferType, uint32_t size,
                         uint8_t* buffer) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = diagAdapter(handle, &adapter); status != kXolStatusSuccess)
        return status;
    if (buffer == nullptr || size == 0)
        return kXolStatusDiagArgument;
    ByteBuffer payload;
    if (!payload.allocate(size_t{kDiagReadHead} + kXolDiagReadChunk))
        return kXolStatusNoMemory;
    putLe32(payload.data(), kDiagReadUniqueId, uniqueId(bufferType));
    uint32_t done = 0;
    while (done < size) {
        const uint32_t chunk = size - done < kXolDiagReadChunk ? size - done : kXolDiagReadChunk;
        putLe32(payload.data(), kDiagReadOffset, done);
        putLe32(payload.data(), kDiagReadLength, chunk);
        const uint32_t status =
            diagExchange(*adapter, kXolIoctlDiagRead, payload.data(), kDiagReadHead + chunk);
        if (status != kXolStatusSuccess)
            return status;
        std::memcpy(buffer + done, payload.data() + kDiagReadHead, chunk);
        done += chunk;
    }
    return kXolStatusSuccess;
}

uint32_t XolLib2DiagRelease(const uint32_t* handle, uint8_t bufferType) {
    return sendUniqueId(handle, kXolIoctlDiagRelease, bufferType);
}

uint32_t XolLib2DiagUnregister(const uint32_t* handle, uint8_t bufferType) {
    return sendUniqueId(handle, kXolIoctlDiagUnregister, bufferType);
}

uint32_t XolLib2EventQuery(const uint32_t* handle, uint32_t* mask, uint16_t* entries) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = lookupAdapter(handle, &adapter); status != kXolStatusSuccess)
        return status;
    return queryEvents(*adapter, mask, entries);
}

uint32_t XolLib2EventEnable(const uint32_t* handle, const uint32_t* addMask, uint32_t* newMask) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = lookupAdapter(handle, &adapter); status != kXolStatusSuccess)
        return status;
    if (addMask == nullptr)
        return kXolStatusInvalidArgument;
    uint32_t mask[kXolEventMaskWords] = {};
    if (const uint32_t status = queryEvents(*adapter, mask, nullptr); status != kXolStatusSuccess)
        return status;
    for (uint32_t i = 0; i < kXolEventMaskWords; ++i)
        mask[i] |= addMask[i];
    if (const uint32_t status = enableEvents(*adapter, mask); status != kXolStatusSuccess)
        return status;
    if (newMask != nullptr)
        std::memcpy(newMask, mask, sizeof mask);
    return kXolStatusSuccess;
}

uint32_t XolLib2EventDisableAll(const uint32_t* handle) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = lookupAdapter(handle, &adapter); status != kXolStatusSuccess)
        return status;
    const uint32_t none[kXolEventMaskWords] = {};
    return enableEvents(*adapter, none);
}

uint32_t XolLib2EventRead(const uint32_t* handle, uint8_t* records, uint32_t* count) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = lookupAdapter(handle, &adapter); status != kXolStatusSuccess)
        return status;
    if (count == nullptr || (records == nullptr && *count != 0))
        return kXolStatusInvalidArgument;
    uint16_t entries = 0;
    if (const uint32_t status = queryEvents(*adapter, nullptr, &entries);
        status != kXolStatusSuccess) {
        return status;
    }
    // At most 65535 records of 200 bytes: no wrap in 32 bits.
    const uint32_t size = kEventReportRecords + kXolEventRecordSize * uint32_t{entries};
    ByteBuffer report;
    if (!report.allocate(size))
        return kXolStatusNoMemory;
    if (const uint32_t status = eventExchange(*adapter, kXolIoctlEventReport, report.data(), size);
        status != kXolStatusSuccess) {
        return status;
    }
    const uint32_t copied = eventRecordsToCopy(*count, entries, size);
    if (copied > 0) {
        std::memcpy(records, report.data() + kEventReportRecords,
                    size_t{copied} * kXolEventRecordSize);
    }
    *count = copied;
    return kXolStatusSuccess;
}

uint32_t XolLib2EventNotifyStart(int* fd) {
    constexpr char kNotifyNode[] = "/dev/xol2ctl";
    constexpr int kNotifySignal = 29;
    if (fd == nullptr)
        return kXolStatusInvalidArgument;
    const int node = xolDriverOps().open(kNotifyNode, O_RDWR | O_CLOEXEC);
    if (node < 0)
        return kXolStatusNodeOpenFailed;
    struct sigaction action {};
    action.sa_handler = ignoreSignal;
    sigemptyset(&action.sa_mask);
    bool ready =
        sigaction(kNotifySignal, &action, nullptr) == 0 && fcntl(node, F_SETOWN, getpid()) == 0;
    const int flags = ready ? fcntl(node, F_GETFL) : -1;
    ready = flags >= 0 && fcntl(node, F_SETFL, flags | O_ASYNC) == 0;
    if (!ready) {
        xolDriverOps().close(node);
        return kXolStatusFailure;
    }
    *fd = node;
    return kXolStatusSuccess;
}
