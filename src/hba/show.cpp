#include "hba/show.h"

#include <cstring>

#include "hba/region_upload.h"
#include "hba/rom_version.h"
#include "hba/show_pages.h"
#include "hba/show_sys.h"
#include "shell/byte_buffer.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "shell/options.h"
#include "shell/parse.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kIoUnit0Size = 20;
constexpr size_t kIoUnit0NvdataDefault = 12;
constexpr size_t kIoUnit0NvdataPersistent = 16;

constexpr uint32_t kIoUnit7Size = 40;
constexpr size_t kIoUnit7PcieWidth = 6;
constexpr size_t kIoUnit7PcieSpeed = 7;
constexpr size_t kIoUnit7IocTemperature = 16;
constexpr size_t kIoUnit7IocUnits = 18;
constexpr size_t kIoUnit7BoardTemperature = 20;
constexpr size_t kIoUnit7BoardUnits = 22;
constexpr uint8_t kUnitsFahrenheit = 1;
constexpr uint8_t kUnitsCelsius = 2;

constexpr uint32_t kMfg0Size = 76;
constexpr uint32_t kMfg5Size = 32;
constexpr size_t kMfg5Wwid = 16;

constexpr size_t kIocFactsFirmwareVersionEnd = kIocFactsFirmwareVersion + 4;

using PageReader = uint32_t (*)(const uint32_t*, uint8_t*, uint32_t*, uint32_t);

// Reads the current values of a page into a zeroed buffer of `size` bytes.
// A page shorter than the fields wanted is a failed read (status 17), never
// zeros shown as values.
uint32_t readPage(PageReader reader, const AdapterRecord* adapter, uint8_t* buffer, uint32_t size) {
    std::memset(buffer, 0, size);
    uint32_t length = size;
    const uint32_t status = reader(&adapter->adapterHandle, buffer, &length, kPageSelectorCurrent);
    if (status != kXolStatusSuccess)
        return status;
    return length < size ? kXolStatusBufferTooSmall : kXolStatusSuccess;
}

void printVersion(const char* label, uint32_t v) {
    logPrintLine("%-20s : %02d.%02d.%02d.%02d", label, static_cast<int>(v >> 24),
                 static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                 static_cast<int>(v & 0xFF));
}

// 256 bytes of the running firmware image at `offset` in one request. False
// when the request failed, was refused, or the region cannot fill it.
bool uploadHeaderBytes(const AdapterRecord* adapter, uint32_t offset, uint8_t* header) {
    std::memset(header, 0, kFirmwareHeaderReadSize);
    uint8_t reply[kXolUploadReplySize] = {};
    uint32_t replyLength = sizeof reply;
    XolStatusInfo status = {};
    const uint32_t result =
        XolLib2FwUpload(&adapter->adapterHandle, header, kFirmwareHeaderReadSize, offset,
                        kRegionFirmware, reply, &replyLength, &status);
    if (result != kXolStatusSuccess || (status.flags & kXolStatusFlagIocStatus) != 0 ||
        replyLength < sizeof reply)
        return false;
    const uint32_t regionSize = getLe32(reply, kUploadReplyImageSize);
    return regionSize >= offset && regionSize - offset >= kFirmwareHeaderReadSize;
}

// The first 256 bytes of the running firmware image (the -fwheader dump).
bool readFirmwareHeader(const AdapterRecord* adapter, uint8_t* header) {
    if (!uploadHeaderBytes(adapter, 0, header)) {
        logError("Unable to read the firmware header.\n");
        return false;
    }
    return true;
}

// The header the versions and names come from: at the start of the image, or
// where the prefix block of a newer image points.
bool readLocatedFirmwareHeader(const AdapterRecord* adapter, uint8_t* header) {
    if (!readFirmwareHeader(adapter, header))
        return false;
    uint32_t offset = 0;
    if (!firmwareHeaderIsPrefixed(header, kFirmwareHeaderReadSize, &offset) || offset == 0)
        return true;
    if (!uploadHeaderBytes(adapter, offset, header) ||
        !isPrefixedFormHeader(header, kFirmwareHeaderReadSize)) {
        logError("Unable to read the firmware header.\n");
        return false;
    }
    return true;
}

void showNvdata(const AdapterRecord* adapter) {
    uint8_t page[kIoUnit0Size];
    const uint32_t status = readPage(XolLib2ReadIoUnitPage0, adapter, page, sizeof page);
    if (status != kXolStatusSuccess) {
        logError("IO Unit Page 0 request failure %x.", status);
        logError("Unable to get the IO Unit page 0.");
        return;
    }
    const uint32_t def = getLe32(page, kIoUnit0NvdataDefault);
    const uint32_t persistent = getLe32(page, kIoUnit0NvdataPersistent);
    if (def != persistent) {
        printVersion("Nvdata (Default)", def);
        printVersion("Nvdata (Persistent)", persistent);
    } else {
        printVersion("Nvdata", def);
    }
}

void showPackage(const AdapterRecord* adapter) {
    uint8_t header[kFirmwareHeaderReadSize];
    if (!readLocatedFirmwareHeader(adapter, header))
        return;
    FirmwareHeaderFields fields;
    decodeFirmwareHeader(header, sizeof header, &fields);
    printVersion("Package Version", fields.packageVersion);
    logPrintLine("%-20s : %s", "Firmware Name", fields.firmwareName);
    logPrintLine("%-20s : %s", "Vendor Name", fields.vendorName);
    logPrintLine("%-20s : %s", "Package Name", fields.packageName);
}

void showWwid(const AdapterRecord* adapter) {
    uint8_t page[kMfg5Size];
    const uint32_t status = readPage(XolLib2ReadManufacturingPage5, adapter, page, sizeof page);
    if (status != kXolStatusSuccess) {
        logPrintLine("Man Page 5 request failed %d.", static_cast<int>(status));
        logError("Unable to get the Mfg Page 5.");
        return;
    }
    logPrintLine("%-20s : %s", "WWID", formatSasAddress(getLe64(page, kMfg5Wwid)));
}

// 0 also when the upload fails: the upload reports it and the versions are
// only display.
uint32_t showBiosVersions(const AdapterRecord* adapter) {
    uint32_t size = 0;
    if (queryImageSize(&adapter->adapterHandle, kRegionBios, &size) != 0) {
        logError("Unable to get Bios Image Size.");
        return 1;
    }
    if (size <= 1)
        return 0;
    ByteBuffer image;
    if (!image.allocate(size)) {
        logError("Unable to allocate memory.");
        return 1;
    }
    if (uploadRegionChunks(&adapter->adapterHandle, 0, kRegionBios, image.data(), size) != 0)
        return 0;
    const uint32_t bios = romImageVersion(image.data(), image.size(), kRomCodeX86);
    if (bios != kRomVersionNotFound)
        printVersion("BIOS Version", bios);
    const uint32_t uefi = romImageVersion(image.data(), image.size(), kRomCodeEfi);
    if (uefi != kRomVersionNotFound)
        printVersion("UEFI Version", uefi);
    return 0;
}

uint32_t showRevision(const AdapterRecord* adapter) {
    uint8_t facts[kXolIocFactsReplySize] = {};
    uint32_t length = sizeof facts;
    // A reply without the firmware version is no reply.
    if (requestIocFacts(adapter, facts, &length, kIocFactsFirmwareVersionEnd) != 0)
        return 1;
    printVersion("Firmware Version", getLe32(facts, kIocFactsFirmwareVersion));
    const uint16_t xif = getLe16(facts, kIocFactsMessageVersion);
    logPrintLine("%-20s : %02d.%02d", "XIF Version", xif >> 8, xif & 0xFF);
    showNvdata(adapter);
    showPackage(adapter);
    showWwid(adapter);
    return showBiosVersions(adapter);
}

uint32_t showManufacturing(const Target* target, const AdapterRecord* adapter) {
    uint8_t page[kMfg0Size];
    const uint32_t status = readPage(XolLib2ReadManufacturingPage0, adapter, page, sizeof page);
    if (status != kXolStatusSuccess) {
        logError("Mfg Page 0 request failure %x.", status);
        logError("Unable to get the Mfg Page 0.");
        return 1;
    }
    MfgPage0Fields fields;
    decodeMfgPage0(page, sizeof page, &fields);
    logPrintLine("%-20s : %s", "MFG Chip Name", fields.chipName);
    logPrintLine("%-20s : %s", "Chip Details", target->name);
    logPrintLine("%-20s : %s", "Board name", fields.boardName);
    return 0;
}

void printTemperature(const char* label, uint8_t units, uint16_t value) {
    if (units == kUnitsFahrenheit) {
        logPrintLine("%-20s : %d F", label, value);
    } else if (units == kUnitsCelsius) {
        logPrintLine("%-20s : %d C", label, value);
    } else {
        logPrintLine("%-20s : %s", label, "Not available");
    }
}

struct CodeText {
    uint8_t code;
    const char* text;
};
constexpr CodeText kLinkWidths[] = {{1, "x1"}, {2, "x2"}, {4, "x4"}, {8, "x8"}};
constexpr CodeText kLinkSpeeds[] = {{0, "2.5"}, {1, "5.0"}, {2, "8.0"}};

template <size_t N>
void printCode(const CodeText (&table)[N], uint8_t code) {
    for (const CodeText& row : table) {
        if (row.code == code) {
            logPrint("%s", row.text);
            return;
        }
    }
    logPrint("Unknown (%d)", code);
}

uint32_t showTemperature(const AdapterRecord* adapter, bool withLink) {
    uint8_t page[kIoUnit7Size];
    const uint32_t status = readPage(XolLib2ReadIoUnitPage7, adapter, page, sizeof page);
    if (status != kXolStatusSuccess) {
        logError("IO Unit Page 7 request failure %x.", status);
        return 1;
    }
    printTemperature("IOC Temperature", page[kIoUnit7IocUnits],
                     getLe16(page, kIoUnit7IocTemperature));
    printTemperature("Board Temperature", page[kIoUnit7BoardUnits],
                     getLe16(page, kIoUnit7BoardTemperature));
    if (withLink) {
        logPrint("%-20s : Lane ", "PCI Connection");
        printCode(kLinkWidths, page[kIoUnit7PcieWidth]);
        logPrint(" Speed ");
        printCode(kLinkSpeeds, page[kIoUnit7PcieSpeed]);
        logPrint(" Gbps\n");
    }
    return 0;
}

uint32_t showPciAddress(const AdapterRecord* adapter) {
    const uint8_t* info = adapter->adapterInfo.data();
    const uint32_t location = getLe32(info, kAdapterInfoPciLocation);
    logPrintLine("%-20s : %02X:%02X:%02X:%02X", "PCI Addr (S:B:D:F)",
                 getLe32(info, kAdapterInfoPciSegment), location >> 8, location & 0x1F,
                 (location >> 5) & 7);
    char driver[kAdapterInfoDriverVersionSize + 1];
    copyDeviceText(info, adapter->adapterInfo.size(), kAdapterInfoDriverVersion,
                   kAdapterInfoDriverVersionSize, driver);
    logPrintLine("%-20s : %s", "Driver Version", driver);
    return 0;
}

uint32_t showAll(const Target* target, const AdapterRecord* adapter) {
    if (showRevision(adapter) != 0 || showManufacturing(target, adapter) != 0 ||
        showTemperature(adapter, true) != 0) {
        return 1;
    }
    return showPciAddress(adapter);
}

uint32_t showFirmwareHeader(const AdapterRecord* adapter) {
    uint8_t header[kFirmwareHeaderReadSize];
    if (!readFirmwareHeader(adapter, header))
        return 1;
    return hexDump(header, kFirmwareHeaderReadSize);
}

enum class ShowOption { Sys, Mfg, Temp, Rev, FwHeader, All };

// In the order the options are tested.
struct ShowOptionRow {
    const char* word;
    ShowOption option;
};
constexpr ShowOptionRow kShowOptions[] = {
    {"-sys", ShowOption::Sys}, {"-mfg", ShowOption::Mfg},           {"-temp", ShowOption::Temp},
    {"-rev", ShowOption::Rev}, {"-fwheader", ShowOption::FwHeader}, {"-all", ShowOption::All},
};

}  // namespace

uint32_t requestIocFacts(const AdapterRecord* adapter, uint8_t* reply, uint32_t* length,
                         uint32_t minimum) {
    XolStatusInfo status = {};
    uint32_t result = XolLib2GetIocFacts(&adapter->adapterHandle, reply, length, &status);
    if (result == kXolStatusSuccess && (status.flags & kXolStatusFlagIocStatus) == 0 &&
        *length < minimum) {
        result = kXolStatusBufferTooSmall;
    }
    if (result != kXolStatusSuccess) {
        logError("IOC Facts request failure. Status - %x.", result);
        return 1;
    }
    if ((status.flags & kXolStatusFlagIocStatus) != 0) {
        logError("IOC Status failed.");
        terminate(kExitIocStatus | (status.iocStatus & 0xFFFF));
    }
    return 0;
}

uint32_t hbaShowUsage() {
    logPrintLine("Show Operations :");
    logPrintLine("This command will display all the basic details of HBA/IOC");
    logPrintLine("%4s %s", " ", " show -all / show ");
    logPrintLine("%9s %s", " ", " -all   :  Will display all the details");
    logPrintLine("%4s %s", " ", " show -rev");
    logPrintLine("%9s %s", " ", " -rev   :  Will display all the firmware related information");
    logPrintLine("%4s %s", " ", " show -sys");
    logPrintLine("%9s %s", " ", " -sys   :  Will display operating system device name for disks");
    logPrintLine("%4s %s", " ", " show -temp");
    logPrintLine("%9s %s", " ", " -temp  :  Will display board temperature");
    logPrintLine("%4s %s", " ", " show -mfg");
    logPrintLine("%9s %s", " ", " -mfg   :  Will display IOC manufacturing details");
    logPrintLine("%4s %s", " ", " show -fwheader");
    logPrintLine("%9s %s", " ", " -fwheader   :  Will print the FW header in hex");
    logPrintLine(" Example : show -rev");
    return 0;
}

uint32_t hbaShowCommand(uint32_t count, char** words) {
    Target* target = currentTarget();
    AdapterRecord* adapter = target != nullptr ? adapterOf(target) : nullptr;
    if (adapter == nullptr) {
        logError("Please select valid device. Device is not selected.");
        return 1;
    }
    ShowOption option = ShowOption::All;
    if (count > 2) {
        logError("Invalid arguments specified.");
        return 1;
    }
    if (count == 2) {
        const ShowOptionRow* found = nullptr;
        for (const ShowOptionRow& row : kShowOptions) {
            if (std::strcmp(words[1], row.word) == 0) {
                found = &row;
                break;
            }
        }
        if (found == nullptr) {
            logError("Invalid arguments specified.");
            return 1;
        }
        option = found->option;
    }
    switch (option) {
        case ShowOption::Sys:
            return showSystemDevices(adapter);
        case ShowOption::Mfg:
            return showManufacturing(target, adapter);
        case ShowOption::Temp:
            return showTemperature(adapter, false);
        case ShowOption::Rev:
            return showRevision(adapter);
        case ShowOption::FwHeader:
            return showFirmwareHeader(adapter);
        case ShowOption::All:
            break;
    }
    return showAll(target, adapter);
}
