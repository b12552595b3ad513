// Firmware transfer: one download or upload chunk per request in the classic
// or the XIF 2.5 layout, the region size and whole-region read built on
// upload, and the toolbox clean request that erases a flash region.
#include <cstring>

#include "shell/bytes.h"
#include "xollib/xol_internal.h"

namespace {

// Classic layout (36 bytes sent).
constexpr size_t kClassicMessageFlags = 7;
constexpr size_t kClassicImageSize = 12;
constexpr size_t kClassicDetailsLength = 22;
constexpr uint8_t kClassicDetailsLengthValue = 12;
constexpr size_t kClassicImageOffset = 28;
constexpr size_t kClassicChunkSize = 32;
// XIF 2.5 layout (32 bytes sent).
constexpr size_t kXif25MessageFlags = 7;
constexpr size_t kXif25ImageSize = 12;
constexpr size_t kXif25ImageOffset = 24;
constexpr size_t kXif25ChunkSize = 28;
constexpr size_t kFrameImageType = 0;
constexpr uint8_t kMessageFlagLastChunk = 1;
// Toolbox clean.
constexpr size_t kToolboxTool = 0;
constexpr uint8_t kToolClean = 0;
constexpr size_t kToolboxRegionFlags = 12;

// Looks the adapter up and refuses controllers that speak an old XIF.
uint32_t transferAdapter(const uint32_t* handle, XolAdapterRecord** adapter) {
    const uint32_t status = lookupAdapter(handle, adapter);
    if (status != kXolStatusSuccess)
        return status;
    if (getLe16((*adapter)->iocFacts, kIocFactsMessageVersion) < kXolMinimumTransferXifVersion) {
        return kXolStatusOldXifVersion;
    }
    return kXolStatusSuccess;
}

// The adapter for one download or upload chunk; on a refusal no reply
// comes back, so its length is cleared.
uint32_t chunkAdapter(const uint32_t* handle, uint32_t* replyLength, XolAdapterRecord** adapter) {
    const uint32_t status = transferAdapter(handle, adapter);
    if (status != kXolStatusSuccess && replyLength != nullptr)
        *replyLength = 0;
    return status;
}

// Sends the block and hands the reply and status record back to the caller.
uint32_t sendTransfer(XolPassthroughBlock* block, const uint8_t* replyFrame, uint32_t replySize,
                      uint8_t* reply, uint32_t* replyLength, XolStatusInfo* status) {
    const uint32_t result = XolLib2Passthrough(block);
    if (status != nullptr)
        *status = block->status;
    if (replyLength == nullptr)
        return result;
    if (result != kXolStatusSuccess || reply == nullptr) {
        *replyLength = 0;
        return result;
    }
    const uint32_t copied = *replyLength < replySize ? *replyLength : replySize;
    std::memcpy(reply, replyFrame, copied);
    *replyLength = copied;
    return result;
}

}  // namespace

uint32_t buildDownloadFrame(uint8_t* frame, bool xif25, uint8_t imageType, uint32_t chunkSize,
                            uint32_t imageOffset, bool lastChunk) {
    std::memset(frame, 0, kTransferFrameCapacity);
    frame[kFrameImageType] = imageType;
    frame[kFrameFunction] = kFunctionFwDownload;
    const uint8_t flags = lastChunk ? kMessageFlagLastChunk : 0;
    if (xif25) {
        frame[kXif25MessageFlags] = flags;
        putLe32(frame, kXif25ImageSize, chunkSize);
        putLe32(frame, kXif25ImageOffset, imageOffset);
        putLe32(frame, kXif25ChunkSize, chunkSize);
        return kXif25TransferRequestSize;
    }
    frame[kClassicMessageFlags] = flags;
    putLe32(frame, kClassicImageSize, chunkSize);
    frame[kClassicDetailsLength] = kClassicDetailsLengthValue;
    putLe32(frame, kClassicImageOffset, imageOffset);
    putLe32(frame, kClassicChunkSize, chunkSize);
    return kClassicTransferRequestSize;
}

uint32_t buildUploadFrame(uint8_t* frame, bool xif25, uint8_t imageType, uint32_t chunkSize,
                          uint32_t imageOffset) {
    std::memset(frame, 0, kTransferFrameCapacity);
    frame[kFrameImageType] = imageType;
    frame[kFrameFunction] = kFunctionFwUpload;
    if (xif25) {
        putLe32(frame, kXif25ImageOffset, imageOffset);
        putLe32(frame, kXif25ChunkSize, chunkSize);
        return kXif25TransferRequestSize;
    }
    frame[kClassicDetailsLength] = kClassicDetailsLengthValue;
    putLe32(frame, kClassicImageOffset, imageOffset);
    putLe32(frame, kClassicChunkSize, chunkSize);
    return kClassicTransferRequestSize;
}

void buildEraseFrame(uint8_t* frame, uint32_t regionFlags) {
    std::memset(frame, 0, kToolboxRequestSize);
    frame[kToolboxTool] = kToolClean;
    frame[kFrameFunction] = kFunctionToolbox;
    putLe32(frame, kToolboxRegionFlags, regionFlags);
}

uint32_t XolLib2FwDownload(const uint32_t* handle, const uint8_t* chunk, uint32_t chunkSize,
                           uint32_t imageOffset, uint8_t imageType, int32_t last, uint8_t* reply,
                           uint32_t* replyLength, XolStatusInfo* status) {
    XolAdapterRecord* adapter = nullptr;
    const uint32_t result = chunkAdapter(handle, replyLength, &adapter);
    if (result != kXolStatusSuccess)
        return result;
    uint8_t frame[kTransferFrameCapacity];
    const uint32_t frameSize = buildDownloadFrame(frame, adapter->xif25Frames, imageType, chunkSize,
                                                  imageOffset, last == kXolLastChunk);
    uint8_t replyFrame[kXolDownloadReplySize] = {};
    XolPassthroughBlock block =
        makePassthroughBlock(adapter->handle, frame, frameSize, replyFrame, sizeof replyFrame);
    block.dataOut = chunk;
    block.dataOutLength = chunkSize;
    block.timeoutSeconds = kTransferTimeoutSeconds;
    return sendTransfer(&block, replyFrame, sizeof replyFrame, reply, replyLength, status);
}

uint32_t XolLib2FwUpload(const uint32_t* handle, uint8_t* buffer, uint32_t chunkSize,
                         uint32_t imageOffset, uint8_t imageType, uint8_t* reply,
                         uint32_t* replyLength, XolStatusInfo* status) {
    XolAdapterRecord* adapter = nullptr;
    const uint32_t result = chunkAdapter(handle, replyLength, &adapter);
    if (result != kXolStatusSuccess)
        return result;
    uint8_t frame[kTransferFrameCapacity];
    const uint32_t frameSize =
        buildUploadFrame(frame, adapter->xif25Frames, imageType, chunkSize, imageOffset);
    uint8_t replyFrame[kXolUploadReplySize] = {};
    XolPassthroughBlock block =
        makePassthroughBlock(adapter->handle, frame, frameSize, replyFrame, sizeof replyFrame);
    block.dataIn = buffer;
    block.dataInLength = chunkSize;
    block.timeoutSeconds = kTransferTimeoutSeconds;
    return sendTransfer(&block, replyFrame, sizeof replyFrame, reply, replyLength, status);
}

uint32_t XolLib2GetRegionSize(const uint32_t* handle, uint8_t imageType, uint32_t* size) {
    if (size == nullptr)
        return kXolStatusInvalidArgument;
    *size = 0;
    uint8_t reply[kXolUploadReplySize] = {};
    uint32_t replyLength = sizeof reply;
    XolStatusInfo status = {};
    const uint32_t result =
        XolLib2FwUpload(handle, nullptr, 0, 0, imageType, reply, &replyLength, &status);
    if (result != kXolStatusSuccess)
        return result;
    if ((status.flags & kXolStatusFlagIocStatus) != 0)
        return kXolStatusFailure;
    *size = getLe32(reply, kUploadReplyImageSize);
    return kXolStatusSuccess;
}

uint32_t XolLib2ReadRegion(const uint32_t* handle, uint8_t imageType, ByteBuffer* image) {
    if (image == nullptr)
        return kXolStatusInvalidArgument;
    image->reset();
    uint32_t size = 0;
    uint32_t result = XolLib2GetRegionSize(handle, imageType, &size);
    if (result != kXolStatusSuccess)
        return result;
    if (size == 0)
        return kXolStatusFailure;
    // Erased flash reports 0xFFFFFFFF: never allocate what a device claims
    // beyond any real region.
    if (size > kXolMaxRegionSize)
        return kXolStatusSizeTooLarge;
    ByteBuffer region;
    if (!region.allocate(size))
        return kXolStatusNoMemory;
    // Count what is left, never an offset that could wrap.
    uint32_t offset = 0;
    for (uint32_t remaining = size; remaining > 0;) {
        const uint32_t chunk = remaining < kXolRegionChunkSize ? remaining : kXolRegionChunkSize;
        uint8_t reply[kXolUploadReplySize] = {};
        uint32_t replyLength = sizeof reply;
        XolStatusInfo status = {};
        result = XolLib2FwUpload(handle, region.data() + offset, chunk, offset, imageType, reply,
                                 &replyLength, &status);
        if (result != kXolStatusSuccess)
            return result;
        if ((status.flags & kXolStatusFlagIocStatus) != 0)
            return kXolStatusFailure;
        offset += chunk;
        remaining -= chunk;
    }
    *image = std::move(region);
    return kXolStatusSuccess;
}

uint32_t XolLib2FlashErase(const uint32_t* handle, uint32_t regionFlags, uint8_t* reply,
                           XolStatusInfo* status) {
    XolAdapterRecord* adapter = nullptr;
    const uint32_t result = transferAdapter(handle, &adapter);
    if (result != kXolStatusSuccess)
        return result;
    if (regionFlags != kXolEraseRegionA && regionFlags != kXolEraseRegionB) {
        return kXolStatusNotApplicable;
    }
    uint8_t frame[kToolboxRequestSize];
    buildEraseFrame(frame, regionFlags);
    uint8_t replyFrame[kXolEraseReplySize] = {};
    XolPassthroughBlock block =
        makePassthroughBlock(adapter->handle, frame, sizeof frame, replyFrame, sizeof replyFrame);
    block.timeoutSeconds = kEraseTimeoutSeconds;
    const uint32_t sent = XolLib2Passthrough(&block);
    if (reply != nullptr)
        std::memcpy(reply, replyFrame, sizeof replyFrame);
    if (status != nullptr)
        *status = block.status;
    return sent;
}
