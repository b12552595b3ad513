// HBA scan; see scan.h.
#include "hba/scan.h"

#include "hba/device_list.h"
#include "hba/names.h"
#include "shell/byte_buffer.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint8_t kExtPageTypePcieIoUnit = 0x1B;
constexpr uint8_t kExtPageTypePcieDevice = 0x1D;
constexpr uint32_t kPageAddressByHandle = 0x20000000;
constexpr size_t kIoUnitCount = 12;
constexpr size_t kIoUnitEntries = 16;
constexpr size_t kIoUnitEntrySize = 20;
constexpr size_t kIoUnitEntryRate = 3;
constexpr uint32_t kLinksPerGroup = 8;
constexpr uint32_t kDevicePageSize = 56;
constexpr size_t kPageDevHandle = 24;
constexpr size_t kPagePort = 22;

struct LinkSummary {
    uint8_t extPageType;
    const char* failure;
    const char* kind;  // "%s's <kind> links are"
    const char* (*name)(uint32_t rateByte);
};

const char* sasRateOf(uint32_t rateByte) {
    return sasLinkRateName(rateByte >> 4);
}
const char* pcieRateOf(uint32_t rateByte) {
    return pcieLinkRateName(rateByte & 0x0F);
}

const LinkSummary kSasLinks = {kExtPageTypeSasIoUnit, "Unable to get the IO Unit page.\n", "SAS",
                               sasRateOf};
const LinkSummary kPcieLinks = {kExtPageTypePcieIoUnit, "Unable to get the PCIe IO Unit page.\n",
                                "PCI", pcieRateOf};

uint32_t readIoUnitPage0(const uint32_t* handle, uint8_t extPageType, ByteBuffer* page) {
    uint32_t size = 0;
    uint32_t status = XolLib2ReadConfigPage(handle, 0, kPageTypeExtended, 0, extPageType,
                                            kPageSelectorSize, nullptr, &size);
    if (status != kXolStatusSuccess)
        return status;
    if (!page->allocate(size))
        return kXolStatusNoMemory;
    status = XolLib2ReadConfigPage(handle, 0, kPageTypeExtended, 0, extPageType,
                                   kPageSelectorCurrent, page->data(), &size);
    if (status == kXolStatusSuccess && size < page->size())
        return kXolStatusFailure;  // the page shrank between the two reads
    return status;
}

void printLinkSummary(const Target& target, const uint32_t* handle, const LinkSummary& summary) {
    ByteBuffer page;
    if (readIoUnitPage0(handle, summary.extPageType, &page) != kXolStatusSuccess) {
        logError("%s", summary.failure);
        return;
    }
    logPrintLine("%s's %s links are", target.name, summary.kind);
    logPrintLine(" ");
    uint32_t links = page.size() > kIoUnitCount ? page[kIoUnitCount] : 0;
    // Only entries the page holds: the count is the controller's word.
    const size_t room =
        page.size() > kIoUnitEntries ? (page.size() - kIoUnitEntries) / kIoUnitEntrySize : 0;
    if (links > room)
        links = static_cast<uint32_t>(room);
    if (links == 0) {
        logPrintLine("");
        return;
    }
    for (uint32_t first = 0; first < links; first += kLinksPerGroup) {
        const uint32_t last =
            first + kLinksPerGroup - 1 < links ? first + kLinksPerGroup - 1 : links - 1;
        logPrint("Links <%02d-%02d>: ", static_cast<int>(first), static_cast<int>(last));
        for (uint32_t link = first; link <= last; ++link) {
            const uint8_t rate = page[kIoUnitEntries + kIoUnitEntrySize * link + kIoUnitEntryRate];
            logPrint(link < last ? "%11.11s, " : "%11.11s ", summary.name(rate));
        }
        logPrintLine("");
    }
    logPrintLine("");
}

uint32_t printPcieDevices(const uint32_t* handle, uint32_t count) {
    logPrintLine("Displaying PCIe devices...");
    logPrintLine("\n%-4s %-10s %-8s %-16s %-4s %-16s %-4s", "DH", "Type", "Vendor", "Product",
                 "Rev", "WWID", "Port");
    logPrintLine("%s", "");
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t info[kXolDeviceInfoSize] = {};
        uint32_t size = sizeof info;
        if (XolLib2GetDeviceInfo(i, handle, nullptr, info, &size) != kXolStatusSuccess) {
            logError("Unable to get the device info.");
            return 1;
        }
        const uint32_t kind = getLe32(info, kDeviceInfoInterface);
        if (kind < 3 || kind > 5)
            continue;
        uint8_t page[kDevicePageSize] = {};
        uint32_t pageSize = sizeof page;
        if (XolLib2ReadConfigPage(handle,
                                  kPageAddressByHandle | getLe16(info, kDeviceInfoDevHandle),
                                  kPageTypeExtended, 0, kExtPageTypePcieDevice,
                                  kPageSelectorCurrent, page, &pageSize) != kXolStatusSuccess ||
            pageSize < kPageDevHandle + 2) {
            continue;
        }
        const uint8_t* inquiry = info + kDeviceInfoInquiry;
        char vendor[9];
        char product[17];
        char revision[5];
        printableText(inquiry + 8, 8, vendor);
        printableText(inquiry + 16, 16, product);
        printableText(inquiry + 32, 4, revision);
        logPrint("%-4x", getLe16(page, kPageDevHandle));
        logPrint("%-10s ", interfaceKindName(kind));
        logPrint(" %-8.8s %-16.16s %-4.4s ", vendor, product, revision);
        logPrint("%016llx  ",
                 static_cast<unsigned long long>(getLe64(info, kDeviceInfoSasAddress)));
        logPrint("%02d ", static_cast<int>(page[kPagePort]));
        logPrint("\n");
    }
    return 0;
}

bool newestFamily(const Target& target) {
    return target.family >= 8 && target.family <= 10;
}

}  // namespace

uint32_t hbaScanUsage() {
    static const char* const kLines[] = {
        "Scan Command:",
        "To scan and display the devices in the topology",
        "B T L    : Bus Target Lun are decimal values",
        "DH       : Dev Handle is hex value",
        "WWID     : WWID is hex value",
        "Type     : Device type is string value",
        "Vendor   : Vendor id is string value",
        "Product  : Product string value ",
        "Rev      : Revision is string value",
        "Phy      : Phy number is decimal value",
        "Example : scan",
    };
    for (const char* line : kLines)
        logPrintLine("%s", line);
    return 0;
}

uint32_t hbaScanCommand(uint32_t count, char** /*words*/) {
    Target* target = currentTarget();
    AdapterRecord* adapter = adapterOf(target);
    if (target == nullptr || adapter == nullptr) {
        logError("Please select valid device. Device is not selected.");
        return 1;
    }
    if (count > 1) {
        logError("Invalid argument(s) specified.");
        return 1;
    }
    const uint32_t* handle = &adapter->adapterHandle;
    printLinkSummary(*target, handle, kSasLinks);
    if (newestFamily(*target))
        printLinkSummary(*target, handle, kPcieLinks);
    uint32_t devices = 0;
    if (rediscoverAttachedDevices(handle, "Rediscover API failed while getting device count",
                                  NoDevicesNote::Line, &devices) != 0)
        return 1;
    if (printSasDeviceList(handle, devices) != 0)
        return 1;
    if (newestFamily(*target))
        return printPcieDevices(handle, devices);
    return 0;
}
