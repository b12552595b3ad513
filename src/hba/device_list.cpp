// The SAS/SATA device list; see device_list.h.
#include "hba/device_list.h"

#include "hba/names.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kPageAddressByHandle = 0x20000000;
constexpr uint32_t kDevicePageSize = 56;
constexpr size_t kPageDevHandle = 24;
constexpr size_t kPagePhy = 22;
constexpr size_t kInquiryVendor = 8;
constexpr size_t kInquiryProduct = 16;
constexpr size_t kInquiryRevision = 32;

}  // namespace

void printableText(const uint8_t* text, size_t width, char* out) {
    size_t i = 0;
    for (; i < width && text[i] != 0; ++i)
        out[i] = text[i] >= 0x20 && text[i] < 0x7F ? static_cast<char>(text[i]) : '.';
    out[i] = '\0';
}

uint32_t printSasDeviceList(const uint32_t* adapterHandle, uint32_t count) {
    logPrintLine("\n%-3s %-3s %-3s %-3s %-10s %-8s %-16s %-4s %-16s %-4s", "B", "T", "L", "DH",
                 "Type", "Vendor", "Product", "Rev", "WWID", "Phy");
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t info[kXolDeviceInfoSize] = {};
        uint32_t size = sizeof info;
        if (XolLib2GetDeviceInfo(i, adapterHandle, nullptr, info, &size) != kXolStatusSuccess) {
            logError("Unable to get the device info.");
            return 1;
        }
        const uint32_t kind = getLe32(info, kDeviceInfoInterface);
        if (kind != kXolInterfaceSas && kind != kXolInterfaceSata)
            continue;
        uint8_t page[kDevicePageSize] = {};
        uint32_t pageSize = sizeof page;
        if (XolLib2ReadConfigPage(adapterHandle,
                                  kPageAddressByHandle | getLe16(info, kDeviceInfoDevHandle),
                                  kPageTypeExtended, 0, kExtPageTypeSasDevice, kPageSelectorCurrent,
                                  page, &pageSize) != kXolStatusSuccess ||
            pageSize < kPageDevHandle + 2) {
            continue;
        }
        const uint8_t* inquiry = info + kDeviceInfoInquiry;
        char vendor[9];
        char product[17];
        char revision[5];
        printableText(inquiry + kInquiryVendor, 8, vendor);
        printableText(inquiry + kInquiryProduct, 16, product);
        printableText(inquiry + kInquiryRevision, 4, revision);
        logPrint("%-3d %-3d %-3d ", static_cast<int>(getLe32(info, kDeviceInfoBus)),
                 static_cast<int>(getLe32(info, kDeviceInfoTargetId)),
                 static_cast<int>(info[kDeviceInfoLun]));
        logPrint("%-4x", getLe16(page, kPageDevHandle));
        logPrint("%-10s ", deviceTypeNameOf(info));
        logPrint("%-8.8s %-16.16s %-4.4s ", vendor, product, revision);
        logPrint("%016llx  ",
                 static_cast<unsigned long long>(getLe64(info, kDeviceInfoSasAddress)));
        logPrint("%02d ", static_cast<int>(page[kPagePhy]));
        logPrint("\n");
    }
    return 0;
}

uint32_t rediscoverAttachedDevices(const uint32_t* adapterHandle, const char* rediscoverFailure,
                                   NoDevicesNote note, uint32_t* count) {
    if (XolLib2RediscoverDevices(adapterHandle) != kXolStatusSuccess) {
        logError("%s", rediscoverFailure);
        return 1;
    }
    *count = 0;
    if (XolLib2GetDeviceCount(adapterHandle, count) != kXolStatusSuccess) {
        logError("Unable to get the device count.");
        return 1;
    }
    if (*count == 0) {
        if (note == NoDevicesNote::Warning)
            logWarn("There are no devices attached.");
        else
            logPrintLine("There are no devices attached.");
        return 1;
    }
    return 0;
}
