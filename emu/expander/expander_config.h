// What one emulated expander is made of, as the topology's "scsi" section
// describes it, plus the expander chip table. Parsing throws
// std::invalid_argument with a readable message for a malformed section.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "images/images.h"

namespace qemu::expander {

// Expander chips: device ID in bits 16..31 of the chip ID register, the
// variant bit 6 telling the two rows of one device ID apart.
struct ChipModel {
    uint16_t deviceId;
    int family;
    bool variant;  // bit 6 value that selects this row (only where a device ID has two rows)
    const char* model;
    int generation;  // 1 or 2 (families 8..13)
    int phyCount;
};

const ChipModel* chipByFamily(int family);
const ChipModel* chipByDeviceId(uint16_t deviceId, bool variant);

// Link rate codes.
inline constexpr uint8_t kRate1G5 = 8;
inline constexpr uint8_t kRate3G = 9;
inline constexpr uint8_t kRate6G = 10;
inline constexpr uint8_t kRate12G = 11;

// Bits of link block word 1 describing the attached phy.
inline constexpr uint32_t kProtoSata = 1u << 0;
inline constexpr uint32_t kProtoSmpTarget = 1u << 1;
inline constexpr uint32_t kProtoStpTarget = 1u << 2;
inline constexpr uint32_t kProtoSspTarget = 1u << 3;
inline constexpr uint32_t kProtoPortSelector = 1u << 7;
inline constexpr uint32_t kProtoSmpInitiator = 1u << 9;
inline constexpr uint32_t kProtoStpInitiator = 1u << 10;
inline constexpr uint32_t kProtoSspInitiator = 1u << 11;

struct AttachedDevice {
    uint64_t sasAddress = 0;
    uint8_t deviceType = 1;  // 1 end device, 2 expander, 3 fanout expander
    uint8_t phyId = 0;
    uint8_t maxRate = kRate12G;
    uint32_t protocols = 0;
};

struct PhyConfig {
    std::optional<AttachedDevice> attached;
    std::optional<uint8_t> zoneGroup;
    std::array<uint32_t, 4> counters{};  // invalid dword, disparity, loss of sync, reset fail
    uint8_t routing = 0;                 // 0 direct, 1 subtractive, 2 table
    bool disabled = false;
    bool edfb = false;
    bool errorLimit = false;
    uint16_t switchTimeout = 0x40;
    uint16_t fastPathTimeout = 0x20;
    uint8_t maxLatency = 0x10;
    std::optional<uint8_t> minRate;  // programmed limits at first start
    std::optional<uint8_t> maxRate;
};

struct RouteEntry {
    uint32_t index = 0;
    uint64_t sasAddress = 0;
    uint32_t state = 1;
    std::vector<int> phys;
};

struct RegionConfig {
    uint32_t capacity = 0;
    bool empty = false;          // descriptor reports 0xFFFFFFFF
    uint8_t offsetBoundary = 0;  // descriptor byte 0: data-mode offsets are multiples of 2^n
    std::optional<std::vector<uint8_t>> contents;  // initial bytes (padded with 0xFF)
};

struct CountedFault {
    int count = 0;  // commands still to hit; negative: every command
    bool due() const { return count != 0; }
    void consume() {
        if (count > 0) {
            --count;
        }
    }
};

struct BufferFault {
    uint8_t buffer = 0;
    int mode = -1;  // -1: every mode
    CountedFault hits{-1};
    int skip = 0;          // matching commands that still pass before the fault hits
    int direction = 0;     // 0 both, 1 READ BUFFER only, 2 WRITE BUFFER only
    uint8_t senseKey = 4;  // HARDWARE ERROR
    uint8_t asc = 0x44;    // INTERNAL TARGET FAILURE
    uint8_t ascq = 0;
};

// Register accesses (buffer 0xC2) covering an address fail.
struct RegisterFault {
    uint32_t address = 0;
    int access = -1;  // -1 both, 0 read, 1 write
    int skip = 0;     // matching commands that pass first
    CountedFault hits{-1};
    uint8_t senseKey = 4;  // HARDWARE ERROR
    uint8_t asc = 0x44;
    uint8_t ascq = 0;
};

// A configuration page answered with another length field, its bytes cut or
// zero-padded to match.
struct PageLengthFault {
    uint16_t page = 0;
    int region = -1;  // -1: every region selector
    uint16_t length = 0;
};

// The next reads of one register word, after `skip` reads, return these
// values, then the model's own again.
struct RegisterValues {
    uint32_t address = 0;
    int skip = 0;
    std::vector<uint32_t> values;
    size_t next = 0;  // values already returned
};

struct FaultConfig {
    std::vector<RegisterFault> registerFaults;
    std::vector<PageLengthFault> pageLengths;

    CountedFault unitAttention;
    CountedFault writeIllegalRequest;
    uint8_t writeIllegalQualifier = 0;
    CountedFault shortRead;
    uint32_t shortReadResidual = 0;
    int shortReadBuffer = -1;  // READ BUFFER of this buffer ID only; -1 any data-in command
    int shortReadMode = -1;    // and of this mode only
    int shortReadSkip = 0;     // matching commands that still pass in full
    std::vector<BufferFault> bufferFaults;
    bool resetNeverReturns = false;
    bool openDenied = false;        // opens fail with EACCES, as for a user who is not root
    int typeChangeAfterCloses = 0;  // 0: never
    int typeChangeTo = 0;
    CountedFault hostStatus;
    uint16_t hostStatusValue = 0x03;  // DID_TIME_OUT
    CountedFault busy;
    std::vector<int> stuckPhys;  // phy resets on these never complete
    struct FlippedByte {
        uint8_t buffer = 0;
        uint32_t offset = 0;
    };
    std::vector<FlippedByte> flipStoredBytes;  // stored inverted whenever written
    bool descriptorSense = false;              // CHECK CONDITION sense in descriptor format (0x72)
    std::vector<RegisterValues> registerValues;
};

struct ExpanderConfig {
    int sg = 0;
    std::array<int, 4> hctl{};  // SG_GET_SCSI_ID host, channel, id, lun
    uint64_t sasAddress = 0;
    uint16_t deviceId = 0;
    uint8_t revision = 0;
    bool variant = false;
    int family = 0;
    int generation = 1;
    int phyCount = 0;
    uint32_t phyCountRegister = 0;
    uint32_t firmwareVersion = 0x01000000;
    uint32_t backupFirmwareVersion = 0x01000000;
    uint32_t bootloaderVersion = 0x01000000;
    std::string vendor = "QUARLEN";
    std::string model;
    std::string serial;
    std::string boardId = "QSBD";
    std::array<uint8_t, 6> mac{};
    std::array<uint8_t, 4> ip{};
    bool dhcp = false;
    std::string managementAddress;  // VPD page 0x85 text
    images::ManufacturingInfo manufacturing;
    uint64_t enclosureId = 0;
    int temperatureC = 40;
    uint32_t resetMs = 5000;
    uint32_t linkResetMs = 100;
    uint32_t hardResetMs = 250;
    std::vector<int> sgAfterReset;
    std::vector<PhyConfig> phys;
    std::vector<RouteEntry> routes;
    std::array<RegionConfig, 10> regions;                       // 0x80..0x89
    std::vector<std::vector<uint8_t>> extraManufacturingPages;  // given whole
    std::vector<std::vector<uint8_t>> extraPersistentPages;
    images::TraceBufferOptions trace;
    std::optional<uint32_t> traceCapacity;           // cut or zero-pad the built buffer
    std::optional<std::vector<uint8_t>> traceBytes;  // "hex": the buffer verbatim
    bool traceEmpty = false;                         // descriptor 0xFFFFFFFF
    std::vector<images::HealthLogEntry> healthLog;
    uint32_t healthLogCapacity = 4096;
    std::optional<std::vector<uint8_t>> healthTextBytes;  // "textHex": buffer 0xEA verbatim
    bool healthLogEmpty = false;                          // descriptors of 0xE5 and 0xEA 0xFFFFFFFF
    FaultConfig faults;
};

ExpanderConfig parseExpanderConfig(const nlohmann::json& node);

// Shared parsing helpers (numbers may be JSON numbers or "0x..." strings).
uint64_t jsonNumber(const nlohmann::json& value, const char* what);
std::vector<uint8_t> jsonHexBytes(const nlohmann::json& value, const char* what);

}  // namespace qemu::expander
