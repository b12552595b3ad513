// Name tables of the HBA commands; see names.h.
#include "hba/names.h"

#include <cstddef>

#include "shell/bytes.h"
#include "xollib/xollib2.h"

namespace {

const char* const kScsiDeviceTypes[32] = {
    "Disk",    "Tape", "Printer", "Processor", "WriteOnce", "CDROM",    "Scanner", "Optical",
    "Jukebox", "Comm", "0Ah",     "0Bh",       "RAIDArray", "EnclServ", "0Eh",     "0Fh",
    "10h",     "11h",  "12h",     "13h",       "14h",       "15h",      "16h",     "17h",
    "18h",     "19h",  "1Ah",     "1Bh",       "1Ch",       "1Dh",      "1Eh",     "",
};

const char* const kInterfaceKinds[] = {"", "SAS", "SATA", "NVME", "AHCI", "SOP"};

struct RateName {
    uint32_t code;
    const char* name;
};

const RateName kSasRates[] = {
    {0, "SAS-Down"},  {1, "SAS-Off"},   {2, "SAS-Failed"}, {3, "SATA OOB"},   {4, "Port select"},
    {5, "SMP Reset"}, {8, "SAS-1.5 G"}, {9, "SAS-3.0 G"},  {10, "SAS-6.0 G"}, {11, "SAS-12.0 G"},
};

const RateName kPcieRates[] = {
    {0, "PCIE-Down"}, {1, "PCIE-Off"}, {2, "PCIE-2.5 G"}, {3, "PCIE-5.0 G"}, {4, "PCIE-8.0 G"},
};

template <size_t N>
const char* findRate(const RateName (&table)[N], uint32_t code, const char* unknown) {
    for (const RateName& row : table) {
        if (row.code == code)
            return row.name;
    }
    return unknown;
}

}  // namespace

const char* scsiDeviceTypeName(uint32_t peripheralType) {
    return peripheralType < 32 ? kScsiDeviceTypes[peripheralType] : "";
}

const char* deviceTypeNameOf(const uint8_t* deviceInfo) {
    if (getLe32(deviceInfo, kDeviceInfoDeviceType) > 32)
        return "";
    return scsiDeviceTypeName(deviceInfo[kDeviceInfoInquiry] & 0x1F);
}

const char* interfaceKindName(uint32_t kind) {
    if (kind < sizeof kInterfaceKinds / sizeof kInterfaceKinds[0])
        return kInterfaceKinds[kind];
    return "Unknown";
}

const char* sasLinkRateName(uint32_t code) {
    return findRate(kSasRates, code, "Unknown");
}

const char* pcieLinkRateName(uint32_t code) {
    return findRate(kPcieRates, code, "PCIE-Unknown");
}
