#include "hba/region_upload.h"

#include <cstring>

#include "shell/bytes.h"
#include "shell/logger.h"
#include "xollib/xollib2.h"

namespace {

// Reports a reply whose IOC status is flagged; always 1.
uint32_t reportUploadIocStatus(const XolStatusInfo& status) {
    logError("IOC status for firmware upload request %x in size", status.iocStatus);
    if ((status.flags & kXolStatusFlagLogInfo) != 0)
        logError("Log Info for firmware upload request %x for getting size", status.iocLogInfo);
    return 1;
}

}  // namespace

uint32_t maxRegionSize(uint8_t regionCode) {
    return regionCode == kRegionBios ? kMaxBiosRegionSize : kMaxRegionSize;
}

uint32_t queryImageSize(const uint32_t* adapterHandle, uint8_t regionCode, uint32_t* size) {
    *size = 0;
    uint8_t reply[kXolUploadReplySize] = {};
    uint32_t replyLength = sizeof reply;
    XolStatusInfo status = {};
    const uint32_t result =
        XolLib2FwUpload(adapterHandle, nullptr, 0, 0, regionCode, reply, &replyLength, &status);
    if (result != kXolStatusSuccess) {
        logError("Unable to get the image size %x.", result);
        return 1;
    }
    // A refused query is not a blank region.
    if ((status.flags & kXolStatusFlagIocStatus) != 0)
        return reportUploadIocStatus(status);
    if (replyLength < kUploadReplyImageSize + 4) {
        logError("Unable to get the image size %x.", replyLength);
        return 1;
    }
    const uint32_t reported = getLe32(reply, kUploadReplyImageSize);
    if (reported > maxRegionSize(regionCode)) {
        logError("Region size 0x%x is too large.", reported);
        return 1;
    }
    *size = reported;
    return 0;
}

uint32_t uploadRegionChunks(const uint32_t* adapterHandle, uint32_t offset, uint8_t regionCode,
                            uint8_t* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) {
        logError("Firmware buffer is null. Invalid buffer pointer.");
        return kUploadInvalidBuffer;
    }
    if (size > UINT32_MAX - offset) {
        logError("Upload of 0x%x bytes at offset 0x%x passes the end of the flash.", size, offset);
        return kUploadInvalidBuffer;
    }
    std::memset(buffer, 0, size);
    // Counting what is left keeps the loop finite whatever the offset.
    uint32_t remaining = size;
    while (remaining > 0) {
        const uint32_t chunk =
            remaining < kRegionUploadChunkSize ? remaining : kRegionUploadChunkSize;
        uint8_t reply[kXolUploadReplySize] = {};
        uint32_t replyLength = sizeof reply;
        XolStatusInfo status = {};
        const uint32_t result = XolLib2FwUpload(adapterHandle, buffer, chunk, offset, regionCode,
                                                reply, &replyLength, &status);
        if (result != kXolStatusSuccess) {
            logError(" *** XolLib2 Error: '0x%08X'. Firmware upload error. *** ", result);
            return result;
        }
        if ((status.flags & kXolStatusFlagIocStatus) != 0)
            return reportUploadIocStatus(status);
        // The controller pads what its region does not hold: zeros are no data.
        const uint32_t regionSize =
            replyLength >= kUploadReplyImageSize + 4 ? getLe32(reply, kUploadReplyImageSize) : 0;
        if (regionSize < offset || regionSize - offset < chunk) {
            logError("Short firmware upload: region holds 0x%x bytes, 0x%x requested at 0x%x.",
                     regionSize, chunk, offset);
            return 1;
        }
        buffer += chunk;
        offset += chunk;
        remaining -= chunk;
    }
    return 0;
}
