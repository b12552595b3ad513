// The library frame: the one context, adapter lookup by handle word, the
// passthrough transport (driver layer and status layer) and the IOC and Port
// Facts requests built on it.
#include <cstring>
#include <new>

#include "shell/bytes.h"
#include "xollib/xol_internal.h"

namespace {

std::unique_ptr<XolContext> g_context;

void copyStatus(const XolStatusInfo& from, XolStatusInfo* to) {
    if (to != nullptr)
        *to = from;
}

// Lower layer: wraps the request in the driver's passthrough command and
// issues it on the adapter's node.
uint32_t sendToDriver(const XolPassthroughBlock& block) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = lookupAdapter(&block.adapterHandle, &adapter);
        status != kXolStatusSuccess) {
        return status;
    }
    ByteBuffer command;
    if (!command.allocate(static_cast<size_t>(block.requestLength) + kIoctlCmdHeaderSize)) {
        return kXolStatusNoMemory;
    }
    if (block.size < kXolPassthroughBlockSize)
        return kXolStatusBufferTooSmall;
    // A length without its buffer would send the driver to address 0.
    if ((block.requestLength != 0 && block.request == nullptr) ||
        (block.replyLength != 0 && block.reply == nullptr) ||
        (block.dataOutLength != 0 && block.dataOut == nullptr) ||
        (block.dataInLength != 0 && block.dataIn == nullptr) ||
        (block.senseLength != 0 && block.sense == nullptr)) {
        return kXolStatusInvalidArgument;
    }
    uint8_t* cmd = command.data();
    if (block.requestLength != 0) {
        std::memcpy(cmd + kIoctlCmdFrame, block.request, block.requestLength);
    }
    putLe32(cmd, kIoctlCmdFrameWords, block.requestLength / 4);
    putLe64(cmd, kIoctlCmdReplyPtr, reinterpret_cast<uintptr_t>(block.reply));
    putLe32(cmd, kIoctlHeaderMaxDataSize, kIoctlCmdHeaderSize);
    putLe32(cmd, kIoctlCmdReplyLength, block.replyLength);

    putLe32(cmd, kIoctlHeaderIocNumber, adapter->iocNumber);
    putLe32(cmd, kIoctlCmdTimeout,
            block.timeoutSeconds == 0 ? kXolDefaultTimeoutSeconds : block.timeoutSeconds);
    if (block.dataOutLength != 0) {
        putLe64(cmd, kIoctlCmdDataOutPtr, reinterpret_cast<uintptr_t>(block.dataOut));
        putLe32(cmd, kIoctlCmdDataOutLength, block.dataOutLength);
    }
    if (block.dataInLength != 0) {
        putLe64(cmd, kIoctlCmdDataInPtr, reinterpret_cast<uintptr_t>(block.dataIn));
        putLe32(cmd, kIoctlCmdDataInLength, block.dataInLength);
    }
    if (block.senseLength != 0) {
        putLe64(cmd, kIoctlCmdSensePtr, reinterpret_cast<uintptr_t>(block.sense));
        putLe32(cmd, kIoctlCmdSenseLength, block.senseLength);
    }
    return issueAdapterIoctl(*adapter, kXolIoctlPassthrough, cmd);
}

// IOC and Port Facts share everything but the frame and the reply size.
uint32_t sendFactsRequest(const uint32_t* handle, const uint8_t* frame, uint32_t frameSize,
                          uint32_t replySize, uint8_t* reply, uint32_t* length,
                          XolStatusInfo* status) {
    if (length == nullptr || (reply == nullptr && *length != 0))
        return kXolStatusInvalidArgument;
    XolAdapterRecord* adapter = nullptr;
    uint32_t result = lookupAdapter(handle, &adapter);
    uint8_t replyFrame[kXolIocFactsReplySize] = {};
    XolPassthroughBlock block = {};
    if (result == kXolStatusSuccess) {
        block = makePassthroughBlock(adapter->handle, frame, frameSize, replyFrame, replySize);
        result = XolLib2Passthrough(&block);
    }
    copyStatus(block.status, status);
    if (result != kXolStatusSuccess) {
        *length = 0;
        return result;
    }
    const uint32_t copied = *length < replySize ? *length : replySize;
    if (copied != 0)
        std::memcpy(reply, replyFrame, copied);
    *length = copied;
    return kXolStatusSuccess;
}

}  // namespace

XolContext* xolContext() {
    return g_context.get();
}

uint32_t XolLib2Create() {
    g_context.reset();
    g_context.reset(new (std::nothrow) XolContext());
    if (!g_context)
        return kXolStatusNoMemory;
    return kXolStatusSuccess;
}

uint32_t XolLib2Shutdown() {
    return kXolStatusSuccess;
}

uint32_t XolLib2GetVersion(XolLib2VersionRecord* record) {
    if (record == nullptr)
        return kXolStatusFailure;
    if (record->size < 8)
        return kXolStatusSuccess;
    record->major = 3;
    record->minor = 255;
    record->build = 1;
    return kXolStatusSuccess;
}

uint32_t XolLib2GetLastStatus(XolStatusInfo* status) {
    if (g_context && status != nullptr)
        *status = g_context->lastStatus;
    return kXolStatusSuccess;
}

uint32_t lookupAdapter(const uint32_t* handle, XolAdapterRecord** record) {
    if (handle == nullptr)
        return kXolStatusNoAdapter;
    if ((*handle & kXolHandleKindMask) != kXolAdapterHandleKind)
        return kXolStatusBadHandle;
    if (!g_context)
        return kXolStatusNoAdapter;
    for (XolAdapterRecord* a = g_context->adapters.get(); a != nullptr; a = a->next.get()) {
        if (a->handle == *handle) {
            *record = a;
            return kXolStatusSuccess;
        }
    }
    return kXolStatusNoAdapter;
}

XolPassthroughBlock makePassthroughBlock(uint32_t handle, const uint8_t* request,
                                         uint32_t requestLength, uint8_t* reply,
                                         uint32_t replyLength) {
    XolPassthroughBlock block = {};
    block.size = kXolPassthroughBlockSize;
    block.adapterHandle = handle;
    block.signature = kXolPassthroughSignature;
    block.requestLength = requestLength;
    block.request = request;
    block.replyLength = replyLength;
    block.reply = reply;
    return block;
}

uint32_t XolLib2Passthrough(XolPassthroughBlock* block) {
    if (block == nullptr)
        return kXolStatusInvalidArgument;
    const uint32_t status = sendToDriver(*block);
    block->status = {};
    block->status.size = sizeof(XolStatusInfo);
    if (g_context)
        g_context->lastStatus = {};
    if (status != kXolStatusSuccess || block->signature != kXolPassthroughSignature ||
        block->replyLength < kReplyMinimumLength || block->reply == nullptr) {
        return status;
    }
    const uint16_t iocStatus = getLe16(block->reply, kReplyIocStatus);
    if ((iocStatus & 0x7FFF) != 0) {
        block->status.flags |= kXolStatusFlagIocStatus;
        block->status.iocStatus = iocStatus & 0x7FFF;
    }
    if ((iocStatus & 0x8000) != 0) {
        block->status.flags |= kXolStatusFlagLogInfo;
        block->status.iocLogInfo = getLe32(block->reply, kReplyIocLogInfo);
    }
    if (g_context)
        g_context->lastStatus = block->status;
    return status;
}

void buildIocFactsFrame(uint8_t* frame) {
    std::memset(frame, 0, kIocFactsRequestSize);
    frame[kFrameFunction] = kFunctionIocFacts;
}

void buildPortFactsFrame(uint8_t* frame, uint8_t port) {
    std::memset(frame, 0, kPortFactsRequestSize);
    frame[kFrameFunction] = kFunctionPortFacts;
    frame[kPortFactsPortNumber] = port;
}

uint32_t XolLib2GetIocFacts(const uint32_t* handle, uint8_t* reply, uint32_t* length,
                            XolStatusInfo* status) {
    uint8_t frame[kIocFactsRequestSize];
    buildIocFactsFrame(frame);
    return sendFactsRequest(handle, frame, sizeof frame, kXolIocFactsReplySize, reply, length,
                            status);
}

uint32_t XolLib2GetPortFacts(const uint32_t* handle, uint8_t port, uint8_t* reply, uint32_t* length,
                             XolStatusInfo* status) {
    uint8_t frame[kPortFactsRequestSize];
    buildPortFactsFrame(frame, port);
    return sendFactsRequest(handle, frame, sizeof frame, kXolPortFactsReplySize, reply, length,
                            status);
}
