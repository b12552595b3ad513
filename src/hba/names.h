// Name tables shared by the HBA commands that list devices and links (show
// -sys, scan, phy): SCSI peripheral device types, device interface kinds and
// SAS / PCIe link rates. Every function answers a static text, never null.
#pragma once

#include <cstdint>

// The 32 peripheral device type names; codes above 31 give "".
const char* scsiDeviceTypeName(uint32_t peripheralType);
// The type name of a library device block (1080 bytes): INQUIRY byte 0, or
// "" when the block's device type copy is above 32.
const char* deviceTypeNameOf(const uint8_t* deviceInfo);
// 0 "", 1 "SAS", 2 "SATA", 3 "NVME", 4 "AHCI", 5 "SOP", others "Unknown".
const char* interfaceKindName(uint32_t kind);
// Negotiated SAS link rate codes (high nibble of the rate byte).
const char* sasLinkRateName(uint32_t code);
// PCIe link rate codes (low nibble of the rate byte).
const char* pcieLinkRateName(uint32_t code);
