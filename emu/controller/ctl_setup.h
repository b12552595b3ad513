// What one emulated controller is, as the "controllers" section of the
// topology describes it: identity, generation, attached devices, versions
// and injected faults. Parsing fills defaults so the models never see holes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "drive/drive.h"

namespace qemu::expander {
struct ExpanderConfig;
}

namespace qemu::ctl {

constexpr uint16_t kQuarlenVendorId = 0x1F3A;
constexpr uint16_t kOtherVendorId = 0x1590;
constexpr uint64_t kWwidPrefix = 0x53C2A1F000000000ULL;

// One row of the controller chip table; the product keeps the same values.
struct ChipRow {
    uint16_t deviceId;
    const char* chipName;
    bool xif25;      // takes the 32-byte firmware transfer layouts
    bool newFamily;  // PCIe links and devices, IO Unit page 11
    uint32_t adapterType;
    uint16_t msgVersion;
    uint16_t vendorId;
};

// The newest generation (adapter types 8 to 10): PCIe links and devices.
inline bool hasPcie(const ChipRow& chip) {
    return chip.adapterType >= 8;
}

// The row of a device ID, or a generic first-generation row for unknown IDs.
const ChipRow& chipFor(uint16_t deviceId);
bool isKnownChip(uint16_t deviceId);

// A named fault from the topology. `skip` lets that many matching requests
// through first; `times` limits how often it fires (negative: always).
struct FaultSpec {
    std::string kind;  // see docs/emulator-controllers.md for the names
    uint32_t status = 0;
    uint32_t logInfo = 0;  // with status: bit 15 of IOCStatus and this IOCLogInfo
    int errnoValue = 5;
    int function = -1;     // passthroughErrno / frameStatus: XIF function, -1 any
    int64_t address = -1;  // configStatus: page address, -1 any
    int pageType = -1;     // configStatus: page type (15 for extended), -1 any
    int extPageType = -1;
    int pageNumber = -1;
    int action = -1;
    // uploadSize, flashCorruption, and transfers for frameStatus/passthroughErrno:
    // the region, -1 any
    int imageType = -1;
    uint32_t size = 0xFFFFFFFF;  // uploadSize: the size the upload reply reports
    uint32_t skip = 0;
    int64_t times = -1;
    uint64_t offset = 0;   // flashCorruption: the byte inverted
    int64_t request = -1;  // driverErrno: the driver request number, -1 any
};

// A group of controller phys wired to one expander (a wide port).
struct LinkSetup {
    std::vector<int> phys;
    uint64_t expanderSas = 0;
    int firstExpanderPhy = 0;
    int expanderPhyCount = 24;  // from topology["scsi"] when it names the expander
    uint32_t deviceInfo = 0;    // extra device-information bits of the expander
    // The expander as its sg node describes it (phys and what they attach),
    // for SMP passthrough; none when the "scsi" section does not name it.
    std::shared_ptr<const expander::ExpanderConfig> model;
};

struct NvmeSpec {
    int link = 0;
    uint64_t wwid = 0;
    std::string vendor = "QUARLEN";
    std::string product = "QN1600 NVMe";
    std::string revision = "1.0";
};

// A drive the controller sees: on an expander phy of one of its links, or
// directly on one of its own phys (link -1), or an expander's enclosure
// services target (on no phy).
struct DriveSetup {
    drive::DriveProfile profile;
    uint64_t sasAddress = 0;
    int link = -1;
    int phy = 0;  // expander phy, or controller phy when direct
};

// One entry of the event log (Log page 0).
struct LogEntrySpec {
    uint64_t time = 0;
    uint16_t seq = 0;
    uint16_t qualifier = 0;
    uint32_t data[7] = {};
};

// One phy's SAS discovery outcome (SAS IO Unit page 0 entry +12 and the
// in-progress bit 3 of entry +1), from the topology key "discovery".
struct DiscoverySpec {
    uint32_t status = 0;
    bool inProgress = false;
};

struct ControllerSetup {
    std::string node;
    uint32_t ioc = 0;
    uint16_t deviceId = 0x0630;
    uint8_t revision = 1;
    uint16_t vendorId = kQuarlenVendorId;
    uint16_t subsystemVendorId = kQuarlenVendorId;
    uint16_t subsystemDeviceId = 0x3040;
    uint64_t wwid = 0x53C2A1F000010000ULL;
    int phys = 8;
    uint32_t firmwareVersion = 0x10000300;
    uint32_t nvdataVersion = 0x10010000;
    uint32_t nvdataPersistentVersion = 0x10010000;
    uint32_t packageVersion = 0x10000300;
    uint32_t biosVersion = 0x08240100;  // 0: no x86 image
    uint32_t uefiVersion = 0x12000400;  // 0: no EFI image
    uint8_t biosPcirRevision = 3;       // below 3: build bytes at +0x18/+0x19
    uint16_t productId = 0x2213;
    std::string chipRevisionText = "B0";
    std::string mfgChipName;  // Manufacturing page 0 chip name field
    std::string boardName = "QS-9400-8i";
    std::string boardAssembly = "QA-0630-001";
    std::string boardTracer = "QT0630A0001";
    std::string driverVersion = "xolsas 3.110.00.00";
    std::string firmwareName = "QSC3408-IT";
    std::string packageName = "QS-9400 IT package";
    uint32_t pciBus = 3, pciDevice = 0, pciFunction = 0;
    uint8_t scsiId = 0;
    uint8_t pcieWidth = 8;
    uint8_t pcieSpeed = 2;
    uint16_t iocTemperature = 52;
    uint16_t boardTemperature = 38;
    uint8_t temperatureUnits = 2;  // 1 Fahrenheit, 2 Celsius, other: not available
    uint8_t linkRate = 0xB;        // negotiated SAS rate code of attached phys
    uint32_t resetMs = 1500;       // virtual unavailability after a hard reset
    uint32_t resetRefusals = 4;    // ...or this many refused requests, whichever first
    std::vector<LinkSetup> links;
    std::vector<NvmeSpec> nvme;
    std::vector<DriveSetup> drives;
    std::vector<int> phyRates;  // per-phy negotiated rate codes (overrides linkRate)
    std::vector<FaultSpec> faults;
    uint32_t diagMaxBytes = 16u << 20;  // largest host diagnostic buffer
    uint32_t eventEntries = 32;         // records the driver's event log keeps
    std::string stateKey;               // "hba-<original wwid>", stable across WWID changes
    int xifVersion = -1;                // IOC Facts message version; -1: the chip's
    // SAS Phy page 2 event codes of a phy ("phyEventCodes"); an empty list is
    // a phy whose events are not configured. Unlisted phys: codes 1 to 4.
    std::map<int, std::vector<uint8_t>> phyEventCodes;
    bool hasLogEntries = false;  // "logEntries" given: replaces the built-in log
    std::vector<LogEntrySpec> logEntries;
    std::map<int, DiscoverySpec> discovery;  // by phy
    uint8_t ports = 1;                       // IOC Facts byte 22; Port Facts below it
    int64_t iocCapabilities = -1;            // IOC Facts word at 28; -1: the chip's
    // "regionFiles": {"<type>": "<file>"}: a region's first contents, read at
    // parse time (an unreadable file fails the topology); saved state wins.
    std::map<uint8_t, std::vector<uint8_t>> regionSeeds;
};

// Reads topology["controllers"]["adapters"]; unknown keys are ignored,
// malformed values fall back to defaults (the emulator must start anyway).
std::vector<ControllerSetup> parseControllers(const nlohmann::json& topology);

// The drives of one controller entry: "devices" on its own phys, the end and
// SATA devices of the expanders its links name (from the "scsi" section) and
// those expanders' enclosure targets; also its "phyRates".
void parseDrives(const nlohmann::json& adapter, const nlohmann::json& scsi, ControllerSetup* setup);

}  // namespace qemu::ctl
