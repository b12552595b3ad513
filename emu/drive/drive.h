// An emulated drive behind a controller: a SAS or SATA disk, an NVMe device
// (its SCSI commands translated), or an expander's enclosure services target.
// It answers SCSI command blocks as a device does: INQUIRY with the standard
// data and VPD pages 0x00, 0x80 and 0xB1, READ CAPACITY (10) and (16), TEST
// UNIT READY; anything else is CHECK CONDITION with ILLEGAL REQUEST. Faults
// given in the topology are spent one command at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qemu::drive {

enum class DriveKind { Sas, Sata, Nvme, Enclosure };

// Commands still to be hit by each fault; negative: every command.
struct DriveFaults {
    int skip = 0;  // commands answered normally before any fault applies
    int unitAttention = 0;
    int checkCondition = 0;
    int busy = 0;
    int shortData = 0;
};

struct DriveProfile {
    DriveKind kind = DriveKind::Sas;
    std::string vendor = "QUARLEN";
    std::string product = "QD12 SAS HDD";
    std::string revision = "Q101";
    std::string serial;  // up to 255 bytes
    uint64_t blocks = 1953525168;
    uint32_t blockSize = 512;
    uint16_t rotationRate = 7200;  // 0: no page 0xB1
    uint8_t formFactor = 2;
    uint8_t accessStatus = 0;  // device page byte 23 (7: not usable)
    int sdIndex = -1;          // /dev/sd name index; -1 the next free one, -2 none
    int mapErrno = 0;          // the driver's mapping fails with this errno
    DriveFaults faults;
};

// Defaults for a kind, then the keys of a "drive" object (absent or
// malformed keys keep the default).
DriveProfile defaultDrive(DriveKind kind, uint64_t sasAddress);
void applyDriveObject(const nlohmann::json& object, DriveProfile* profile);

struct ScsiOutcome {
    uint8_t status = 0;          // SCSI status byte
    size_t transferred = 0;      // bytes placed in the data buffer
    std::vector<uint8_t> sense;  // fixed-format sense data, empty when none
};

class Drive final {
  public:
    explicit Drive(DriveProfile profile) : profile_(std::move(profile)), faults_(profile_.faults) {}
    const DriveProfile& profile() const { return profile_; }
    uint8_t peripheralType() const;
    // Runs one command; data receives at most dataLength bytes.
    ScsiOutcome execute(const uint8_t* cdb, size_t cdbLength, uint8_t* data, size_t dataLength);

  private:
    std::vector<uint8_t> answer(const uint8_t* cdb, size_t cdbLength, ScsiOutcome* outcome) const;

    DriveProfile profile_;
    DriveFaults faults_;
};

}  // namespace qemu::drive
