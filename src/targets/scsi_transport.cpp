#include "targets/scsi_transport.h"

#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "targets/scsi_status.h"

namespace {

constexpr uint8_t kSenseResponseMask = 0x7F;
constexpr uint8_t kSenseDescriptorCurrent = 0x72;
constexpr uint8_t kSenseDescriptorDeferred = 0x73;

bool descriptorFormat(const ScsiOutcome& outcome) {
    const uint8_t code = outcome.sense[0] & kSenseResponseMask;
    return code == kSenseDescriptorCurrent || code == kSenseDescriptorDeferred;
}

// One sense byte, or 0 when the device did not send that far.
uint8_t senseByte(const ScsiOutcome& outcome, size_t offset) {
    return offset < outcome.senseLength ? outcome.sense[offset] : 0;
}

}  // namespace

namespace {

int systemSgIo(int fd, sg_io_hdr* header) {
    return ioctl(fd, SG_IO, header);
}
SgIoIssuer g_issuer = systemSgIo;

}  // namespace

void setSgIoIssuer(SgIoIssuer issuer) {
    g_issuer = issuer != nullptr ? issuer : systemSgIo;
}

uint8_t senseKey(const ScsiOutcome& outcome) {
    const size_t at = descriptorFormat(outcome) ? 1 : 2;
    return static_cast<uint8_t>(senseByte(outcome, at) & 0x0F);
}
uint8_t senseCode(const ScsiOutcome& outcome) {
    return senseByte(outcome, descriptorFormat(outcome) ? 2 : 12);
}
uint8_t senseQualifier(const ScsiOutcome& outcome) {
    return senseByte(outcome, descriptorFormat(outcome) ? 3 : 13);
}
bool senseFlagsSet(const ScsiOutcome& outcome) {
    // Descriptor format carries no filemark/EOM/ILI bits beside the key.
    return !descriptorFormat(outcome) && (senseByte(outcome, 2) & 0xF0) != 0;
}

ScsiOutcome issueScsiCommand(int fd, const uint8_t* cdb, uint8_t cdbLength, ScsiDirection direction,
                             uint8_t* data, uint32_t dataLength) {
    ScsiOutcome outcome;
    uint8_t command[16] = {};
    const uint8_t length = cdbLength > sizeof command ? sizeof command : cdbLength;
    std::memcpy(command, cdb, length);

    sg_io_hdr_t header;
    std::memset(&header, 0, sizeof header);
    header.interface_id = 'S';
    header.dxfer_direction =
        direction == ScsiDirection::FromDevice ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    header.cmd_len = length;
    header.mx_sb_len = kSenseBufferSize;
    header.dxfer_len = dataLength;
    header.dxferp = data;
    header.cmdp = command;
    header.sbp = outcome.sense;
    header.timeout = kScsiTimeoutMs;

    if (g_issuer(fd, &header) < 0) {
        outcome.osError = errno != 0 ? errno : EIO;
        return outcome;
    }
    outcome.scsiStatus = header.status;
    outcome.hostStatus = header.host_status;
    outcome.driverStatus = header.driver_status;
    outcome.senseLength = header.sb_len_wr > kSenseBufferSize ? kSenseBufferSize : header.sb_len_wr;
    outcome.residual = header.resid;
    return outcome;
}

uint32_t sortScsiOutcome(const ScsiOutcome& outcome, ScsiDirection direction, bool* headerFailure) {
    *headerFailure = false;
    if (outcome.osError != 0) {
        *headerFailure = true;
        return kCommandFailed;
    }
    // A command the adapter or driver gave up on (timeout, abort, lost
    // device) never reached a SCSI verdict: its buffer holds nothing.
    if (outcome.hostStatus != 0 || (outcome.driverStatus & ~kDriverStatusSense) != 0) {
        *headerFailure = true;
        return kCommandFailed;
    }
    if (outcome.scsiStatus == kScsiStatusCheckCondition) {
        if (outcome.senseLength == 0)
            return kCommandFailed;
        if (senseKey(outcome) == kSenseKeyUnitAttention &&
            senseCode(outcome) == kAscPowerOnOrReset) {
            return kCommandRetry;
        }
        // Only a plain ILLEGAL REQUEST (no filemark/EOM/ILI flags) is retried.
        if (direction == ScsiDirection::ToDevice && senseKey(outcome) == kSenseKeyIllegalRequest &&
            !senseFlagsSet(outcome) && senseCode(outcome) == kAscCommandSequenceError) {
            return senseQualifier(outcome) == 0 ? kCommandRetry : kCommandFailed;
        }
        return kCommandFailed;
    }
    // A device that is busy now may take the command a moment later.
    if (outcome.scsiStatus == kScsiStatusBusy || outcome.scsiStatus == kScsiStatusTaskSetFull)
        return kCommandBusy;
    // RESERVATION CONFLICT and the like: the data buffer was not filled.
    if (outcome.scsiStatus != kScsiStatusGood && outcome.scsiStatus != kScsiStatusConditionMet) {
        *headerFailure = true;
        return kCommandFailed;
    }
    return kCommandOk;
}

uint32_t transferredBytes(const ScsiOutcome& outcome, ScsiDirection direction,
                          uint32_t dataLength) {
    if (direction == ScsiDirection::ToDevice)
        return dataLength;
    if (outcome.residual <= 0)
        return dataLength;
    const uint32_t residual = static_cast<uint32_t>(outcome.residual);
    return residual >= dataLength ? 0 : dataLength - residual;
}
