// The download request and the post validation.
#include "hba/region_download.h"

#include <cstring>

#include "hba/region_upload.h"
#include "shell/byte_buffer.h"
#include "shell/logger.h"
#include "xollib/xollib2.h"

uint32_t readWholeRegion(AdapterRecord* adapter, uint8_t region, ByteBuffer* image) {
    uint32_t size = 0;
    if (queryImageSize(&adapter->adapterHandle, region, &size) != 0 || size == 0)
        return 1;
    if (!image->allocate(size)) {
        logError("Unable to allocate memory.");
        return 1;
    }
    if (uploadRegionChunks(&adapter->adapterHandle, 0, region, image->data(), size) != 0) {
        image->reset();
        return 1;
    }
    return 0;
}

uint32_t downloadImage(AdapterRecord* adapter, uint8_t downloadType, const uint8_t* image,
                       size_t size) {
    if (size > UINT32_MAX) {
        logError("Firmware/Bios download failed - %x", kXolStatusInvalidArgument);
        return 1;
    }
    uint8_t reply[kXolDownloadReplySize] = {};
    uint32_t replyLength = sizeof reply;
    XolStatusInfo status = {};
    const uint32_t result =
        XolLib2FwDownload(&adapter->adapterHandle, image, static_cast<uint32_t>(size), 0,
                          downloadType, kXolLastChunk, reply, &replyLength, &status);
    if (result != kXolStatusSuccess) {
        logError("Firmware/Bios download failed - %x", result);
        return 1;
    }
    if ((status.flags & kXolStatusFlagIocStatus) != 0) {
        logError("IOC status for firmware/bios download request %x", status.iocStatus);
        if ((status.flags & kXolStatusFlagLogInfo) != 0)
            logError("Log Info for firmware/bios download request %x", status.iocLogInfo);
        return 1;
    }
    return 0;
}

uint32_t postValidate(AdapterRecord* adapter, const uint8_t* image, size_t size, uint8_t region) {
    ByteBuffer uploaded;
    if (readWholeRegion(adapter, region, &uploaded) != 0)
        return 1;
    // The region may hold more than was written; it must hold all of it.
    if (uploaded.size() < size || std::memcmp(uploaded.data(), image, size) != 0) {
        logError(
            "Firmware/Bios image does not match with uploaded image, download the image again");
        return 1;
    }
    return 0;
}
